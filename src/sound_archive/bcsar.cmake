# sound archive unpacker and packer
