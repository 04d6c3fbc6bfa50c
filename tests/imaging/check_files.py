"""Reads back every file kind the imaging library and tessan-fuse write, with
tifffile as other microscopy software would, and validates their OME-XML."""
import subprocess, sys, tempfile, pathlib, xml.etree.ElementTree as ET
import numpy as np, tifffile
from PIL import Image

samples, fuse, xsd = sys.argv[1:4]
NS = {"ome": "http://www.openmicroscopy.org/Schemas/OME/2016-06"}
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def ome(path):
    with tifffile.TiffFile(path) as tif:
        check(tif.is_ome, f"{path.name}: not read as OME-TIFF")
        xml = tif.pages[0].description
        series = [s.asarray() for s in tif.series]
        axes = [s.axes for s in tif.series]
        resolutions = [(p.resolution, p.resolutionunit) for p in tif.pages]
    psx = ET.fromstring(xml).find(".//ome:Pixels", NS).get("PhysicalSizeX")
    check(psx is None or all(u == tifffile.RESUNIT.CENTIMETER and np.allclose(r, 1e4 / float(psx))
                             for r, u in resolutions), f"{path.name}: resolution {resolutions}")
    doc = path.with_suffix(".xml")
    doc.write_text(xml, encoding="utf-8")
    if xsd:  # without a schema only the read-back counts; the ome_schema test reports the skip
        run = subprocess.run(["xmllint", "--noout", "--nonet", "--schema", xsd, str(doc)], capture_output=True, text=True)
        check(run.returncode == 0, f"{path.name}: schema: {run.stderr.strip()[-300:]}")
    return series, axes, ET.fromstring(xml)


def plane(z):
    y, x = np.mgrid[0:30, 0:40]
    return np.stack([x * 5 + z, y * 7, (x + y + z * 30) & 255], axis=-1).astype(np.uint8)


with tempfile.TemporaryDirectory() as tmp:
    d = pathlib.Path(tmp)
    subprocess.run([samples, tmp], check=True)
    for name, z in (("stack.ome.tif", 4), ("stack3.ome.tif", 3)):
        series, axes, root = ome(d / name)
        check(axes[0] == "ZYXS" and series[0].shape == (z, 30, 40, 3), f"{name}: {axes[0]} {series[0].shape}")
        check(all((series[0][i] == plane(i)).all() for i in range(min(z, len(series[0])))), f"{name}: pixels")
        px = root.find(".//ome:Pixels", NS)
        check(px.get("PhysicalSizeX") == "0.5" and px.get("PhysicalSizeZ") == "2.5"
              and px.get("PhysicalSizeZUnit") == "µm", f"{name}: physical sizes {px.attrib}")
        zs = [float(p.get("PositionZ")) for p in root.findall(".//ome:Plane", NS)]
        check(zs == [1000 + 2.5 * i for i in range(z)], f"{name}: plane positions {zs}")
        check(root.find(".//ome:Image", NS).get("Name") == "liver-01 µ & <1>", f"{name}: image name")

    series, axes, root = ome(d / "picture.ome.tif")
    y, x = np.mgrid[0:30, 0:40]
    check([s.shape for s in series] == [(30, 40, 3), (30, 40)], f"picture: {[s.shape for s in series]}")
    check((series[0] == plane(0)).all(), "picture: pixels")
    check(series[1].dtype == np.float32 and np.allclose(series[1], 1000 + x * 0.25 + y), "picture: height map")

    # tessan-fuse on a Tessan stack (µm), plain 16-bit grey stacks (plane indices), a 12-bit camera's stack
    # (same planes: the picture is that plane, in 16 bits), and two channels of 4 planes each from ImageJ
    # (spacing) and from OME-XML whose Channel leaves out SamplesPerPixel: the channels come out apart.
    y, x = np.mgrid[0:30, 0:40]
    grey = np.stack([(np.indices((30, 40)).sum(0) * 300 + i * 1000).astype(np.uint16) for i in range(3)])
    tifffile.imwrite(d / "grey.tif", grey, photometric="minisblack")
    camera = ((x * 97 + y * 61) % 4096).astype(np.uint16)
    camera[0, 0], camera[-1, -1] = 0, 4095
    tifffile.imwrite(d / "camera12.tif", np.stack([camera] * 3), photometric="minisblack")
    two = np.stack([x * 5, y * 7]).astype(np.uint8)
    tifffile.imwrite(d / "hyperstack.tif", np.stack([two] * 4), imagej=True,
                     metadata={"axes": "ZCYX", "spacing": 2.5, "unit": "micron"})
    tifffile.imwrite(d / "channels.ome.tif", np.concatenate([two] * 4), photometric="minisblack", metadata=None,
                     description=f'<OME xmlns="{NS["ome"]}"><Image ID="Image:0"><Pixels ID="Pixels:0" '
                     'DimensionOrder="XYCZT" Type="uint8" SizeX="40" SizeY="30" SizeC="2" SizeZ="4" SizeT="1" '
                     'PhysicalSizeZ="2.5"><Channel ID="Channel:0:0"/><Channel ID="Channel:0:1"/>'
                     '<TiffData PlaneCount="8"/></Pixels></Image></OME>')
    # PNG keeps the 16 bits; JPEG is stretched from the picture's darkest to its brightest value
    for suffix, top in (("png", 4095), ("jpg", 255)):
        run = subprocess.run([fuse, str(d / "camera12.tif"), "-o", str(d / f"camera12.{suffix}")], capture_output=True)
        seen = np.asarray(Image.open(d / f"camera12.{suffix}")) if run.returncode == 0 else np.array([-9])
        check(seen.min() <= 1 and abs(int(seen.max()) - top) <= 1, f"camera12.{suffix}: {run.stderr} {seen.max()}")

    for stack, lo, hi, shape, pixels in (("stack.ome.tif", 1000, 1007.5, (30, 40, 3), None),
                                         ("grey.tif", 0, 2, (30, 40), None), ("camera12.tif", 0, 2, (30, 40), camera),
                                         ("hyperstack.tif", 0, 7.5, (2, 30, 40), two),
                                         ("channels.ome.tif", 0, 7.5, (2, 30, 40), two)):
        out, height = d / f"fused-{stack}", d / f"height-{stack}"
        run = subprocess.run([fuse, str(d / stack), "-o", str(out), "--height-map", str(height)],
                             capture_output=True, text=True)
        check(run.returncode == 0, f"tessan-fuse {stack}: {run.stderr}")
        if run.returncode:
            continue
        series, _, root = ome(out)
        want = series[0] if pixels is None else pixels
        check(series[0].shape == shape and series[0].dtype == want.dtype and np.abs(series[0] - want.astype(int)).max()
              <= 1, f"fused {stack}: {series[0].shape} {series[0].dtype} {series[0].max()}")
        if stack == "stack.ome.tif":
            check(root.find(".//ome:Pixels", NS).get("PhysicalSizeY") == "0.5", f"fused {stack}: physical size")
        series, _, _ = ome(height)
        check(series[0].dtype == np.float32 and lo <= series[0].min() and series[0].max() <= hi,
              f"height {stack}: {series[0].min()}..{series[0].max()}")

print("\n".join(failures) or ("every file read back and valid" if xsd else "every file read back (no schema: not validated)"))
sys.exit(1 if failures else 0)
