#!/usr/bin/env python3
"""The measurements of bench/play.sh: play_bench.py KVSSF MANIFEST_URL HELD_MANIFEST_URL"""

import json
import os
import resource
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request


def measure(command, **kwargs):
    """Wall seconds, CPU seconds (user + system) and peak RSS (MiB) of one child."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit("%s failed (%d): %s" % (command[0], result.returncode, result.stderr))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    # ru_maxrss of the children is the largest so far, so each command is measured alone.
    return wall, cpu, after.ru_maxrss / 1024.0


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


def main():
    kvssf, manifest, held = sys.argv[1:4]
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
    print("delivery / curl wall time: %.2f (goal <= 2); against the same work: %.2f"
          % (play[0] / curl[0], play[0] / curl_files[0]))

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
