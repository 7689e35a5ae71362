#!/usr/bin/env python3
"""The measurements of bench/play.sh:
    play_bench.py KVSSF FIRST_SAMPLE_BENCH MEDIA_URL HELD_MANIFEST_URL

MEDIA_URL/long is the 10-minute presentation, MEDIA_URL/minutes2 and MEDIA_URL/hours2 the
same repeated to 2 minutes and 2 hours."""

import json
import os
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request


def measure(command, **kwargs):
    """Wall seconds, CPU seconds (user + system) and peak RSS (MiB) of one child."""
    # A child forked from this process starts its peak at this process's size: GNU time,
    # small itself, reports the command's own.
    with tempfile.NamedTemporaryFile(mode="r") as peak:
        start = time.monotonic()
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak.name, *command],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                 **kwargs)
        # wait4 gives this child's usage, with the command it waited for.
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        stderr = child.stderr.read()
        child.stderr.close()
        if child.returncode != 0:
            sys.exit("%s failed (%d): %s" % (command[0], child.returncode, stderr))
        return wall, usage.ru_utime + usage.ru_stime, int(peak.read().split()[-1]) / 1024.0


def fragment_urls(kvssf, manifest):
    model = json.loads(subprocess.run([kvssf, "info", manifest, "--json"], check=True,
                                      capture_output=True, text=True).stdout)
    urls = []
    for stream in model["streams"]:
        track = stream["tracks"][stream["current_track"]]
        for start, _ in stream["chunks"]:
            path = (stream["url"].replace("{bitrate}", str(track["bitrate"]))
                    .replace("{start time}", str(start)))
            urls.append(model["manifest"]["base_url"] + path)
    return urls


def median(values):
    return sorted(values)[len(values) // 2]


def fetch_ms(url):
    """Milliseconds of one HTTP/1.0 download of url into a file, as curl reports it."""
    with tempfile.NamedTemporaryFile() as body:
        out = subprocess.run(["curl", "-s", "--fail", "-0", "-o", body.name, "-w",
                              "%{time_total}", url], check=True, capture_output=True, text=True)
    return float(out.stdout) * 1000.0


def first_samples(bench, manifest, urls, seek_seconds, runs=5):
    """Medians over runs: ms to the first sample after Run and after a seek, and the ms of
    one download of the first video fragment and of the one the seek lands in."""
    after_run, after_seek = [], []
    for _ in range(runs):
        out = subprocess.run([bench, manifest, str(seek_seconds)], check=True,
                             capture_output=True, text=True).stdout
        result = json.loads(out)
        after_run.append(result["first_after_run_ms"])
        after_seek.append(result["first_after_seek_ms"])
    video = [u for u in urls if "video=" in u]
    at_seek = [u for u in video if u.endswith("video=%d)" % (seek_seconds * 10000000))]
    first_fetch = median([fetch_ms(video[0]) for _ in range(runs)])
    seek_fetch = median([fetch_ms(at_seek[0]) for _ in range(runs)])
    return median(after_run), first_fetch, median(after_seek), seek_fetch


def main():
    kvssf, bench, media, held = sys.argv[1:5]
    manifest = media + "long/pres.ism/Manifest"
    urls = fragment_urls(kvssf, manifest)
    with tempfile.TemporaryDirectory() as temp:
        config = os.path.join(temp, "curl.cfg")
        with open(config, "w") as f:
            for url in urls:
                f.write('url = "%s"\noutput = "/dev/null"\n' % url)
        # The same fetches the way the player must make them: HTTP/1.0, a connection
        # per fragment, each body stored in a file.
        files = os.path.join(temp, "files.cfg")
        with open(files, "w") as f:
            for n, url in enumerate(urls):
                f.write('url = "%s"\noutput = "%s"\n' % (url, os.path.join(temp, "f%d" % n)))
        # Warm the page cache and nginx, then measure each alone.
        subprocess.run(["curl", "-s", "-K", config], check=True)
        curl = measure(["curl", "-s", "--fail", "-K", config])
        curl_files = measure(["curl", "-s", "--fail", "-0", "-K", files])
        play = measure([kvssf, "play", manifest, "--quiet"])
    print("fragments: %d (top video level and audio of a 10-minute presentation)" % len(urls))
    print("%-34s %8s %8s %10s" % ("", "wall s", "cpu s", "peak MiB"))
    print("%-34s %8.2f %8.2f %10.1f" % ("curl, one connection, /dev/null", *curl))
    print("%-34s %8.2f %8.2f %10.1f" % ("curl, HTTP/1.0 each, into files", *curl_files))
    print("%-34s %8.2f %8.2f %10.1f" % ("kvssf play (no clock)", *play))
    print("delivery / curl wall time: %.2f (goal <= 2); against the same work: %.2f "
          "(goal <= 1.3)" % (play[0] / curl[0], play[0] / curl_files[0]))

    seek_seconds = 300
    run_ms, run_fetch, seek_ms, seek_fetch = first_samples(bench, manifest, urls, seek_seconds)
    print("first sample after Run: %.1f ms; one download of the first fragment: %.1f ms "
          "(goal <= %.1f)" % (run_ms, run_fetch, run_fetch + 10))
    print("first sample after a seek to %d s: %.1f ms; one download of its fragment: "
          "%.1f ms (goal <= %.1f)" % (seek_seconds, seek_ms, seek_fetch, seek_fetch + 10))

    peaks = {}
    for name, label in (("minutes2", "2 minutes"), ("hours2", "2 hours")):
        wall, cpu, peak = measure([kvssf, "play", media + name + "/pres.ism/Manifest",
                                   "--quiet"])
        peaks[name] = peak
        print("kvssf play of %-9s: wall %6.2f s, cpu %6.2f s, peak RSS %5.1f MiB"
              % (label, wall, cpu, peak))
    print("peak RSS 2 hours / 2 minutes: %.3f (goal <= 1.05)"
          % (peaks["hours2"] / peaks["minutes2"]))

    # Every fragment held back by the origin for 10 s: the player should sleep. The
    # origin lets them go once the run has ended, so that the teardown, which waits for
    # running downloads, does not wait for the origin's own time-out.
    opener = threading.Timer(10.5, lambda: urllib.request.urlopen(
        held.replace("held/Manifest", "open/held")).read())
    opener.start()
    wall, cpu, _ = measure([kvssf, "play", held, "--quiet", "--duration", "10"])
    opener.join()
    print("waiting on a held origin for %.1f s: cpu %.3f s = %.2f%% of a core (goal < 1%%)"
          % (wall, cpu, 100.0 * cpu / wall))


if __name__ == "__main__":
    main()
