# ctr_tools
