#!/usr/bin/python3
"""Our frontal detector beside a peer's, measured in one run: OpenCV's frontal Haar cascades
(haarcascade_frontalface_default and _alt2 from Debian's opencv-data, through python3-opencv).

    bench/compare_opencv.py DATA [--bin build/bin] [--cascade models/mct4.cascade] [--frames 600] [--step-y 0.09]

Accuracy: every picture of DATA/cmu-newtest through each OpenCV cascade (detectMultiScale with its
defaults: scale 1.1, 3 neighbours), the boxes scored by our own benchmark's matching rule
(build/bin/detection_accuracy --detections), beside our detector as the tracker runs it
(build/bin/detection_accuracy --cascade, with the reference configuration's vertical scan step
"stepYfactor", --step-y). Speed: the frames that build/bin/detection_speed times
(the first FRAMES/clips frames of every clip of DATA/video, enlarged to 320x240) through each cascade
on one thread with the window range the tracker scans (38 to 240 pixels), beside detection_speed's
scanned 320x240 figure. The peer is a comparison only: nothing of it goes into the system or into
training. Install it with bench/compare_opencv_setup.sh.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

try:
    import cv2
except ImportError:
    sys.exit("python3-opencv is missing: run bench/compare_opencv_setup.sh")

HAAR = "/usr/share/opencv4/haarcascades"
PEERS = [("OpenCV default", "haarcascade_frontalface_default.xml"),
         ("OpenCV alt2", "haarcascade_frontalface_alt2.xml")]


def run(cmd):
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    return out.strip().splitlines()


def accuracy_line(lines):
    m = re.search(r"detection rate ([\d.]+)% at (\d+) false positives", lines[-1])
    return float(m.group(1)), int(m.group(2))


def clip_frames(video, frames):
    """The frames detection_speed takes: per clip folder (name order), its first frames/clips .pgm files."""
    clips = []

    def collect(d):
        here = []
        for n in sorted(os.listdir(d)):
            if n.startswith("."):
                continue
            p = os.path.join(d, n)
            if n.endswith(".pgm"):
                here.append(p)
            else:
                collect(p)
        if here:
            clips.append(here)

    collect(video)
    per = max(1, frames // max(1, len(clips)))
    return [p for clip in clips for p in clip[:per]]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("data")
    ap.add_argument("--bin", default="build/bin")
    ap.add_argument("--cascade", default="models/mct4.cascade")
    ap.add_argument("--frames", type=int, default=600)
    ap.add_argument("--step-y", default="0.09")
    a = ap.parse_args()
    cv2.setNumThreads(1)
    test = os.path.join(a.data, "cmu-newtest")
    pictures = sorted(n for n in os.listdir(test) if n.endswith(".pgm"))

    accuracy = {}
    ours = run([os.path.join(a.bin, "detection_accuracy"), test, "--cascade", a.cascade, "--step-y", a.step_y,
                "--sweep", "0", "0", "0"])
    accuracy["ours"] = accuracy_line(ours)
    for name, xml in PEERS:
        peer = cv2.CascadeClassifier(os.path.join(HAAR, xml))
        if peer.empty():
            sys.exit("cannot load %s/%s: run bench/compare_opencv_setup.sh" % (HAAR, xml))
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            for n in pictures:
                grey = cv2.imread(os.path.join(test, n), cv2.IMREAD_GRAYSCALE)
                for (x, y, w, h) in peer.detectMultiScale(grey):
                    f.write("%s %d %d %d %d\n" % (n, x, y, w, h))
            listed = f.name
        try:
            accuracy[name] = accuracy_line(run([os.path.join(a.bin, "detection_accuracy"), test, "--detections", listed]))
        finally:
            os.unlink(listed)

    speed_lines = run([os.path.join(a.bin, "detection_speed"), os.path.join(a.data, "video"), "--cascade", a.cascade,
                       "--frames", str(a.frames), "--step-y", a.step_y])
    our_ms = float(re.search(r"scanned 320x240: ([\d.]+) ms", speed_lines[-1]).group(1))
    m = re.search(r"320x240 every frame scanned: [\d.]+ ms per frame \(face reported in (\d+) of (\d+)\)",
                  "\n".join(speed_lines))
    our_faces, n_frames = (int(m.group(1)), int(m.group(2))) if m else (None, None)
    frames = [cv2.resize(cv2.imread(p, cv2.IMREAD_GRAYSCALE), (320, 240), interpolation=cv2.INTER_LINEAR)
              for p in clip_frames(os.path.join(a.data, "video"), a.frames)]
    speed = {"ours": (our_ms, our_faces)}
    for name, xml in PEERS:
        peer = cv2.CascadeClassifier(os.path.join(HAAR, xml))
        best, with_face = None, 0
        for r in range(3):
            t0 = time.perf_counter()
            found = [len(peer.detectMultiScale(f, minSize=(38, 38), maxSize=(240, 240))) for f in frames]
            ms = (time.perf_counter() - t0) * 1000.0 / len(frames)
            best = ms if best is None else min(best, ms)
            with_face = sum(1 for k in found if k)
        speed[name] = (best, with_face)

    print("cmu-newtest, %d pictures, one matching rule (bench/detection_accuracy):" % len(pictures))
    print("%-16s %8s %6s" % ("detector", "rate%", "false"))
    for k in ["ours"] + [p[0] for p in PEERS]:
        print("%-16s %8.1f %6d" % (k, accuracy[k][0], accuracy[k][1]))
    print("%d video frames at 320x240, one thread (windows 38 to 240):" % len(frames))
    print("%-16s %8s %12s" % ("detector", "ms/frame", "with a face"))
    for k in ["ours"] + [p[0] for p in PEERS]:
        ms, faces = speed[k]
        print("%-16s %8.2f %12s" % (k, ms, "-" if faces is None else "%d of %d" % (faces, len(frames))))
    parts = []
    for name, _ in PEERS:
        parts.append("%s: detection %.2fx (%.1f%% at %d vs %.1f%% at %d), speed %.1fx (%.2f vs %.2f ms)" % (
            name, accuracy["ours"][0] / max(accuracy[name][0], 1e-9), accuracy["ours"][0], accuracy["ours"][1],
            accuracy[name][0], accuracy[name][1], speed[name][0] / speed["ours"][0], our_ms, speed[name][0]))
    print("ours against " + "; ".join(parts))


if __name__ == "__main__":
    main()
