# Reads a pyramidal OME-TIFF back with tifffile, as slide viewers read it, and
# prints what they rely on as JSON; writes the OME-XML to the second argument
# for xmllint; each further argument "x,y" adds that full-resolution pixel.
import json
import sys
import xml.etree.ElementTree as ET

import numpy as np
import tifffile


def halve(a):
    """2 x 2 mean rounded half up; an odd last row or column is averaged with itself."""
    a = np.pad(a.astype(np.int32), ((0, a.shape[0] % 2), (0, a.shape[1] % 2), (0, 0)), mode="edge")
    return (a[0::2, 0::2] + a[1::2, 0::2] + a[0::2, 1::2] + a[1::2, 1::2] + 2) // 4


path, xml_out = sys.argv[1], sys.argv[2]
points = [tuple(int(v) for v in p.split(",")) for p in sys.argv[3:]]
with tifffile.TiffFile(path) as tif:
    page = tif.pages[0]
    with open(xml_out, "w", encoding="utf-8") as f:
        f.write(tif.ome_metadata)
    ome = ET.fromstring(tif.ome_metadata)
    ns = {"o": ome.tag.split("}")[0][1:]}
    pixels = ome.find(".//o:Pixels", ns)
    plane = ome.find(".//o:Plane", ns)
    series = tif.series[0]
    levels = [level.keyframe for level in series.levels]
    out = {
        "ome": tif.is_ome,
        "levels": [[p.imagewidth, p.imagelength] for p in levels],
        "tiles": sorted({(p.tilewidth, p.tilelength) for p in levels}),
        "subfiletypes": [int(p.subfiletype) for p in levels],
        "subifds": len(page.tags["SubIFDs"].value) if "SubIFDs" in page.tags else 0,
        "compression": int(page.compression),
        "photometric": int(page.photometric),
        "subsampling": list(page.subsampling or ()),
        "physical": [float(pixels.get("PhysicalSizeX")), float(pixels.get("PhysicalSizeY")),
                     pixels.get("PhysicalSizeXUnit")],
        # pixels per cm of each level, as TIFF readers without OME see the scale
        "resolution": [[*p.resolution, int(p.resolutionunit)] for p in levels],
        "position": [float(plane.get("PositionX")), float(plane.get("PositionY")), plane.get("PositionXUnit")],
    }
    # the largest difference of each reduced level from the 2 x 2 mean of the
    # level above (lossless levels only: JPEG needs imagecodecs to decode)
    if page.compression != tifffile.COMPRESSION.JPEG:
        pyramid = [level.asarray() for level in series.levels]
        out["leveldiff"] = [int(np.abs(halve(a) - b).max()) for a, b in zip(pyramid, pyramid[1:])]
    if points:
        full = series.levels[0].asarray()
        series.levels[-1].asarray()
        out["pixels"] = [[int(v) for v in full[y, x]] for x, y in points]
    print(json.dumps(out))
