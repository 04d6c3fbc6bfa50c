# Reads a pyramidal OME-TIFF back as slide viewers do and prints one line:
# is_ome, the size of every level, the tile size, the scale and the position.
import sys
import xml.etree.ElementTree as ET

import tifffile

with tifffile.TiffFile(sys.argv[1]) as tif:
    series = tif.series[0]
    levels = ",".join("%dx%d" % (level.shape[1], level.shape[0]) for level in series.levels)
    page = tif.pages[0]
    ome = ET.fromstring(tif.ome_metadata)
    ns = {"o": ome.tag.split("}")[0][1:]}
    pixels = ome.find(".//o:Pixels", ns)
    plane = ome.find(".//o:Plane", ns)
    series.levels[-1].asarray()
    print("ome=%d levels=%s tile=%dx%d um=%s,%s at=%s,%s" % (
        tif.is_ome, levels, page.tilewidth, page.tilelength, pixels.get("PhysicalSizeX"),
        pixels.get("PhysicalSizeY"), plane.get("PositionX"), plane.get("PositionY")))
