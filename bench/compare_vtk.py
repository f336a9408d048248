#!/usr/bin/python3
"""Side-by-side frame times of Kelvara and VTK's GPU ray-cast volume mapper.

Renders the same DAT file with VTK (the mapper that ParaView and 3D Slicer use)
and with kelvara-bench frame, in one run on one machine, and prints the ratio.

    xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 bench/compare_vtk.py \
        --bench build/bin/kelvara-bench [FILE.dat ...] [--phantom-size 256] \
        [--size 512] [--samples 100 400] [--frames 10] [--quick] [--partitions X,Y,Z]

Without files it writes the clean head phantom and its noisy, MRI-like variant
(kelvara-make-volume head and noisy-head, --phantom-size voxels per side) into a
temporary folder and measures both in the same run: the clean one has empty
space around the head for skipping to find, the noisy one has none, like a
real scan.

How the two are matched:
- Data: the same file, read the same way (min(sample, 4095), in 16 bits for
  VTK with transfer functions over 0..4095; Kelvara normalises to 0..1).
- Geometry: orthographic view; the volume's longest side spans half the view
  (Kelvara's view plane is [-1, 1] with the box's longest side 1.0; VTK gets a
  parallel scale of 1.0 with the data scaled so its longest side is 1.0).
- Image: the same square size.
- Sampling: the same number of samples N through the longest side: VTK's sample
  distance is longest side / N with automatic adjustment off; Kelvara takes N
  samples along each ray through the box.
- Classification: a grey ramp with opacity equal to the value (Kelvara:
  --stops 0:#00000000,1:#ffffffff; VTK: colour 0->black, 1->white, scalar
  opacity 0->0, 1->1), linear interpolation of the data.
- Shading: Phong with ambient 0.2, diffuse 0.8, specular 1.0, power 16, one white
  light; no depth cueing in Kelvara (k1 = k2 = 0).
- Timing: K frames after one excluded warm-up frame, each with a new rotation so
  nothing is cached, each timed to completion (glFinish in Kelvara,
  WaitForCompletion in VTK).

What still differs: VTK composites with its own opacity-unit-distance
correction and jitter off, Kelvara with its step-length correction; VTK's light
is a headlight, Kelvara's the fixed light of its shader; the two stop rays at
different thresholds (early termination). The pictures are alike, not equal.
"""
import argparse
import re
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import vtk
from vtk.util import numpy_support


def read_dat(path):
    """The samples as 16-bit integers limited to 4095 (Kelvara reads
    min(sample, 4095) / 4095): VTK gets the same values in 16 bits, scaled by
    its transfer functions, so a large volume is held once, in its own size."""
    raw = np.fromfile(path, dtype="<u2")
    if raw.size < 3:
        sys.exit("compare_vtk: %s is not a DAT file" % path)
    w, h, d = (int(v) for v in raw[:3])
    count = w * h * d
    samples = raw[3:3 + count]
    if samples.size < count:
        samples = np.concatenate([samples, np.zeros(count - samples.size, dtype="<u2")])
    np.minimum(samples, 4095, out=samples)
    return w, h, d, samples


def vtk_frames(path, size, samples, frames, partitions=None):
    w, h, d, values = read_dat(path)
    longest = float(max(w, h, d))
    image = vtk.vtkImageData()
    image.SetDimensions(w, h, d)
    spacing = 1.0 / longest
    image.SetSpacing(spacing, spacing, spacing)
    image.SetOrigin(-0.5 * w * spacing, -0.5 * h * spacing, -0.5 * d * spacing)
    # Shallow: the samples of a large volume exist once (the VTK array keeps
    # a reference to them).
    array = numpy_support.numpy_to_vtk(values, deep=False,
                                       array_type=vtk.VTK_UNSIGNED_SHORT)
    image.GetPointData().SetScalars(array)

    colour = vtk.vtkColorTransferFunction()
    colour.AddRGBPoint(0.0, 0.0, 0.0, 0.0)
    colour.AddRGBPoint(4095.0, 1.0, 1.0, 1.0)
    opacity = vtk.vtkPiecewiseFunction()
    opacity.AddPoint(0.0, 0.0)
    opacity.AddPoint(4095.0, 1.0)
    prop = vtk.vtkVolumeProperty()
    prop.SetColor(colour)
    prop.SetScalarOpacity(opacity)
    prop.SetInterpolationTypeToLinear()
    prop.ShadeOn()
    prop.SetAmbient(0.2)
    prop.SetDiffuse(0.8)
    prop.SetSpecular(1.0)
    prop.SetSpecularPower(16.0)

    mapper = vtk.vtkGPUVolumeRayCastMapper()
    mapper.SetInputData(image)
    mapper.SetAutoAdjustSampleDistances(False)
    mapper.SetSampleDistance(1.0 / samples)
    mapper.SetUseJittering(False)
    if partitions:
        # Several textures for a volume beyond one (VTK's own way).
        mapper.SetPartitions(*partitions)
    volume = vtk.vtkVolume()
    volume.SetMapper(mapper)
    volume.SetProperty(prop)

    renderer = vtk.vtkRenderer()
    renderer.SetBackground(0, 0, 0)
    renderer.AddVolume(volume)
    camera = renderer.GetActiveCamera()
    camera.ParallelProjectionOn()
    camera.SetPosition(0, 0, 3)
    camera.SetFocalPoint(0, 0, 0)
    camera.SetViewUp(0, 1, 0)
    camera.SetParallelScale(1.0)
    renderer.ResetCameraClippingRange(-2, 2, -2, 2, -2, 2)

    window = vtk.vtkRenderWindow()
    window.SetOffScreenRendering(1)
    window.SetSize(size, size)
    window.AddRenderer(renderer)
    window.Render()  # warm-up: uploads, shader build
    window.WaitForCompletion()
    times = []
    for _ in range(frames):
        camera.Azimuth(7)
        camera.Elevation(3)
        camera.OrthogonalizeViewUp()
        renderer.ResetCameraClippingRange(-2, 2, -2, 2, -2, 2)
        start = time.perf_counter()
        window.Render()
        window.WaitForCompletion()
        times.append((time.perf_counter() - start) * 1000.0)
    renderer_lines = [line.split(":", 1)[1].strip()
                      for line in window.ReportCapabilities().splitlines()
                      if line.startswith("OpenGL renderer string")]
    return times, renderer_lines[:1]


def summary(times):
    ordered = sorted(times)
    n = len(ordered)
    median = ordered[n // 2] if n % 2 else 0.5 * (ordered[n // 2 - 1] + ordered[n // 2])
    return median, ordered[0], ordered[-1]


def kelvara_frames(bench, path, size, samples, frames):
    command = [bench, "frame", path, "--size", "%dx%d" % (size, size), "--samples", str(samples),
               "--frames", str(frames), "--stops", "0:#00000000,1:#ffffffff",
               "--lighting", "0.2,0.8,1.0,16", "--depth-cueing", "0,0"]
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    line = next(l for l in output.splitlines() if l.startswith("frame "))
    median = float(re.search(r"median_ms=([0-9.]+)", line).group(1))
    return median, line


def make_phantoms(args, folder):
    tool = args.make_volume or os.path.join(os.path.dirname(args.bench), "kelvara-make-volume")
    side = args.phantom_size
    paths = []
    for kind in ("head", "noisy-head"):
        path = os.path.join(folder, "%s-%d.dat" % (kind, side))
        subprocess.run([tool, kind, "%dx%dx%d" % (side, side, side), path], check=True)
        paths.append(path)
    return paths


def compare(args, path, samples, frames):
    vtk_times, capabilities = vtk_frames(path, args.size, samples, frames, args.partitions)
    v_median, v_min, v_max = summary(vtk_times)
    print("vtk file=%s size=%dx%d samples=%d frames=%d median_ms=%.1f min_ms=%.1f max_ms=%.1f "
          "renderer=\"%s\"" % (path, args.size, args.size, samples, frames, v_median, v_min,
                               v_max, " / ".join(c.strip() for c in capabilities)))
    k_median, k_line = kelvara_frames(args.bench, path, args.size, samples, frames)
    print(k_line)
    print("ratio kelvara/vtk=%.3f file=%s size=%dx%d samples=%d"
          % (k_median / v_median, os.path.basename(path), args.size, args.size, samples))
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="*")
    parser.add_argument("--bench", default="build/bin/kelvara-bench")
    parser.add_argument("--make-volume", default=None,
                        help="kelvara-make-volume (default: beside --bench)")
    parser.add_argument("--phantom-size", type=int, default=256)
    parser.add_argument("--size", type=int, default=512)
    parser.add_argument("--samples", type=int, nargs="+", default=[100, 400])
    parser.add_argument("--frames", type=int, default=10)
    parser.add_argument("--quick", action="store_true", help="fewer frames")
    parser.add_argument("--partitions", default=None,
                        help="X,Y,Z: VTK draws the volume as that many textures per axis")
    args = parser.parse_args()
    if args.partitions:
        args.partitions = [int(v) for v in args.partitions.split(",")]
    frames = 3 if args.quick else args.frames

    with tempfile.TemporaryDirectory(prefix="kelvara-compare-") as folder:
        files = args.files or make_phantoms(args, folder)
        for path in files:
            for samples in args.samples:
                compare(args, path, samples, frames)


if __name__ == "__main__":
    main()
