"""Readable summaries of what the demo's library, capture and service stand-in hold."""
import json
import os
import plistlib
import re
import ssl
import sys
import urllib.request


def scan(path):
    doc = json.load(open(path))
    tracks, m = doc["tracks"], doc["metrics"]
    print(f"{len(tracks)} songs")
    for t in tracks[:5]:
        loved = " ♥" if t["favourite"] else ""
        print(f"  {t['persistentID']}  {t['artist']} – {t['title']}  (plays {t['playCount']}){loved}")
    if len(tracks) > 5:
        print(f"  … and {len(tracks) - 5} more")
    loved = [f"{t['artist']} – {t['title']}" for t in tracks if t["favourite"]]
    print("Loved:", "; ".join(loved) if loved else "none")
    print(f"Timings: load {m['loadMS']} ms, pass {m['scanMS']} ms, total {m['totalMS']} ms; "
          f"resident {m['residentLoadedBytes'] // 1024} KiB while loaded")


def listen(library_path):
    with open(library_path, "rb") as f:
        plist = plistlib.load(f)
    raised = 0
    for track in plist["Tracks"].values():
        if raised == 3 or track.get("Podcast") or track.get("Has Video"):
            continue
        if str(track.get("Location", "")).lower().endswith(".m4b"):
            continue
        extra = [1, 2, 250][raised]
        track["Play Count"] = track.get("Play Count", 0) + extra
        print(f"  {track.get('Artist')} – {track.get('Name')}: +{extra} plays")
        raised += 1
    with open(library_path + ".tmp", "wb") as f:
        plistlib.dump(plist, f)
    os.replace(library_path + ".tmp", library_path)


def fetch(base, ca, path):
    context = ssl.create_default_context(cafile=ca)

    class Keep(urllib.request.HTTPRedirectHandler):
        def redirect_request(self, *args):
            return None  # the connect page's redirect is the browser's to follow

    opener = urllib.request.build_opener(urllib.request.HTTPSHandler(context=context), Keep)
    try:
        return opener.open(base + path).read().decode()
    except urllib.error.HTTPError as answer:
        return answer.read().decode()


def requests(base, ca):
    return json.loads(fetch(base, ca, "/__control/requests"))


def link(base, ca, install_id):
    page = fetch(base, ca, "/native/mac-capture/connect?install_id=" + install_id)
    print(re.search(r'href="([^"]+)"', page).group(1))


def uploads(recorded):
    return [r for r in recorded if r["path"] == "/api/native/capture/reconcile"]


def has_plays(base, ca):
    return any(u["json"]["completion_library"]["deltas"] for u in uploads(requests(base, ca)))


def service(base, ca):
    recorded = requests(base, ca)
    shown = set()
    for r in recorded:
        path, body = r["path"], r["json"]
        bearer = "with the bearer token" if r["headers"].get("authorization", "").startswith(
            "Bearer ") else "without a token"
        if path == "/api/native/capture/mac/exchange":
            print(f"  POST exchange: the one-time code for install {body['install_id']}")
        elif path == "/api/native/capture/reconcile":
            block = body["completion_library"]
            plays = sum(d["play_count_after"] - d["play_count_before"] for d in block["deltas"])
            kind = "baseline report" if block["is_baseline"] else (
                f"{plays} new plays" if plays else "scan report")
            print(f"  POST reconcile ({bearer}): {kind}, {block['song_count']} songs")
            for d in block["deltas"]:
                print(f"      {d['artist']} – {d['track']}: {d['play_count_before']} → "
                      f"{d['play_count_after']}")
        elif path == "/api/native/now-playing":
            what = f"{body.get('artist')} – {body.get('track')}" if body.get("track") else ""
            state = body.get("playback_state", "stopped")
            if (what, state) in shown:
                continue  # heartbeats of the same report
            shown.add((what, state))
            print(f"  POST now-playing ({bearer}): {what + ', ' if what else ''}{state}")
        elif path == "/api/native/capture/mac/companion-context":
            query = {k: v[0] for k, v in r["query"].items()}
            print(f"  GET companion-context ({bearer}): {query.get('artist')} – {query.get('track')}")
        elif path == "/api/native/capture/ratings":
            if r["method"] == "GET":
                print(f"  GET ratings ({bearer}): is ratings sync on?")
            else:
                print(f"  POST ratings ({bearer}): page {body['page']} of {body['pages']}, "
                      f"{len(body['entries'])} songs ({body['kind']})")
        elif path == "/api/native/capture/mac/identity":
            print(f"  GET identity ({bearer})")


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "scan":
        scan(sys.argv[2])
    elif command == "listen":
        listen(sys.argv[2])
    elif command == "link":
        link(*sys.argv[2:5])
    elif command == "has-plays":
        sys.exit(0 if has_plays(sys.argv[2], sys.argv[3]) else 1)
    elif command == "service":
        service(sys.argv[2], sys.argv[3])
