# sound archive fuzz targets
