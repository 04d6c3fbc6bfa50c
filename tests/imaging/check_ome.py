#!/usr/bin/python3
"""Reads an OME-TIFF as microscopy tools do and prints what they see, as JSON.

check_ome.py FILE [SCHEMA]: the tifffile series (shape, axes, dtype), the
OME-XML sizes, units and plane positions, the page compressions, and with a
schema (an empty one is skipped) whether xmllint (offline) accepts the document.
"""
import json, subprocess, sys, tempfile
import xml.etree.ElementTree as ET
import tifffile

NS = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"
path = sys.argv[1]
with tifffile.TiffFile(path) as tif:
    out = {"ome": tif.is_ome,
           "series": [{"shape": list(s.shape), "axes": s.axes, "dtype": str(s.dtype)} for s in tif.series],
           "compression": sorted({int(p.compression) for p in tif.pages})}
    xml = tif.ome_metadata or ""
images = []
for image in ET.fromstring(xml).iter(NS + "Image") if xml else []:
    pixels = image.find(NS + "Pixels")
    planes = [[float(p.get(k, "nan")) for k in ("PositionX", "PositionY", "PositionZ")]
              + [p.get("PositionXUnit"), p.get("PositionZUnit")] for p in pixels.iter(NS + "Plane")]
    images.append({"name": image.get("Name"), "date": (image.findtext(NS + "AcquisitionDate") or ""),
                   **{k: pixels.get(k) for k in ("DimensionOrder", "Type", "SizeX", "SizeY", "SizeZ",
                                                  "PhysicalSizeX", "PhysicalSizeY", "PhysicalSizeZ",
                                                  "PhysicalSizeXUnit", "PhysicalSizeZUnit")},
                   "planes": planes})
out["images"] = images
out["valid"] = True  # without a schema only the read-back counts; the ome_schema test reports the skip
if len(sys.argv) > 2 and sys.argv[2]:
    with tempfile.NamedTemporaryFile("w", suffix=".xml", encoding="utf-8") as doc:
        doc.write(xml)
        doc.flush()
        run = subprocess.run(["xmllint", "--nonet", "--noout", "--schema", sys.argv[2], doc.name],
                             capture_output=True, text=True)
    out["valid"] = run.returncode == 0
    out["xmllint"] = run.stderr[-2000:]
print(json.dumps(out))
