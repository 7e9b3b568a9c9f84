"""Loads a report page in headless Chromium and fails unless every image on it loaded.

    /usr/bin/python3 -m eval.check_page report/index.html [--screenshot SHOT.png]

The page records, once loaded, how many images it has and which did not load;
this reads that record from the page as Chromium rendered it.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

CHROMIUM = "chromium"
FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run")
WINDOW = "--window-size=1366,900"  # a laptop's screen
TIMEOUT_SECONDS = 120


def images_loaded(page):
    """(ok, message) for the page at path page."""
    if shutil.which(CHROMIUM) is None:
        return False, f"{CHROMIUM} is not installed (Debian package chromium)"
    url = "file://" + os.path.abspath(page)
    done = subprocess.run([CHROMIUM, *FLAGS, WINDOW, "--dump-dom", url], capture_output=True, text=True,
                          timeout=TIMEOUT_SECONDS)
    found = re.search(r'data-images="(\d+) images, (\d+) broken([^"]*)"', done.stdout)
    if found is None:
        return False, f"{page}: the page did not finish loading in {CHROMIUM}"
    count, broken = int(found.group(1)), int(found.group(2))
    if count == 0 or broken:
        return False, f"{page}: {broken} of {count} images did not load{found.group(3)}"
    return True, f"{page}: all {count} images loaded"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("page")
    parser.add_argument("--screenshot", help="also save a screenshot at a laptop's width")
    args = parser.parse_args(argv)
    ok, message = images_loaded(args.page)
    print(message)
    if ok and args.screenshot:
        subprocess.run([CHROMIUM, *FLAGS, WINDOW, f"--screenshot={os.path.abspath(args.screenshot)}",
                        "file://" + os.path.abspath(args.page)], capture_output=True, timeout=TIMEOUT_SECONDS,
                       check=True)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
