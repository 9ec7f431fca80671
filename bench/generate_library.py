#!/usr/bin/env python3
"""Writes a large synthetic music library for benchmarks: an exported "Library.xml" shaped
like a real Music export (about 1 KB per track, the usual keys) and the matching JSON library fixture.

    generate_library.py OUTDIR                       -> OUTDIR/Library.xml, OUTDIR/library.json
    generate_library.py --xml X.xml --json L.json   (either may be given alone)

The same seed always gives the same files. Besides the songs, about 1.7% extra items are
podcasts, videos and audiobooks, which a scan must leave out.
"""
import argparse
import json
import os
import random
import time

SYLLABLES = ["ka", "lo", "mi", "ra", "ten", "su", "vo", "del", "ar", "ni", "que", "bel", "tor",
             "an", "ez", "ur", "po", "lin", "sa", "ve"]
ACCENTED = ["Björk", "Beyoncé", "Sigur Rós", "Mötley Crüe", "Françoise Hardy", "Zoë Keating",
            "Ólafur Arnalds", "Dvořák", "Goran Bregović", "Ágætis"]
NON_LATIN = ["坂本龍一", "宇多田ヒカル", "Кино", "ДДТ", "رشيد طه", "이소라", "Μίκης Θεοδωράκης",
             "אביב גפן", "ธงไชย แมคอินไตย์", "Ｆｕｌｌ Ｗｉｄｔｈ"]
GENRES = ["Rock", "Pop", "Jazz", "Classical", "Electronic", "Hip-Hop/Rap", "R&B/Soul", "Folk",
          "Alternative", "Soundtrack"]
KINDS = ["MPEG audio file", "AAC audio file", "Purchased AAC audio file",
         "Apple Music AAC audio file", "Fichier audio AAC", "AAC オーディオファイル"]
EPOCH_1904 = 2082844800  # seconds from 1904-01-01 to 1970-01-01


def xml_text(text):
    # Exports write markup characters as numeric references.
    return text.replace("&", "&#38;").replace("<", "&#60;").replace(">", "&#62;")


def iso(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


class Names:
    def __init__(self, rng):
        self.rng = rng

    def word(self, low=2, high=4):
        return "".join(self.rng.choice(SYLLABLES) for _ in range(self.rng.randint(low, high)))

    def phrase(self, low=1, high=4):
        return " ".join(self.word().capitalize() for _ in range(self.rng.randint(low, high)))

    def artist(self):
        roll = self.rng.random()
        if roll < 0.05:
            return self.rng.choice(ACCENTED) + ("" if self.rng.random() < 0.5 else " & " + self.phrase(1, 2))
        if roll < 0.10:
            return self.rng.choice(NON_LATIN)
        return self.phrase(1, 3)


def make_items(songs, rng):
    names = Names(rng)
    artists = [names.artist() for _ in range(max(1, songs // 20))]
    albums = [(names.phrase(1, 4), rng.choice(artists)) for _ in range(max(1, songs // 10))]
    used_ids = set()

    def persistent_id():
        while True:
            value = rng.getrandbits(64)
            if value and value not in used_ids:
                used_ids.add(value)
                return value

    kinds = ["song"] * songs + ["podcast"] * (songs // 100) + ["video"] * (songs // 200) + \
            ["audiobook"] * (songs // 500)
    rng.shuffle(kinds)
    items = []
    for index, kind in enumerate(kinds):
        album, album_artist = rng.choice(albums)
        compilation = rng.random() < 0.05
        artist = names.artist() if compilation else album_artist
        played = rng.random() < 0.8
        last_played = rng.randint(1262304000, 1733700000) if played else None
        rated = rng.random() < 0.3
        items.append({
            "trackID": 1000 + 2 * index,
            "persistentID": persistent_id(),
            "kind": kind,
            "name": names.phrase(1, 6) + (" (Live)" if rng.random() < 0.05 else ""),
            "artist": artist if rng.random() > 0.01 else None,
            "albumArtist": album_artist if (compilation or rng.random() < 0.3) else None,
            "album": album,
            "composer": names.phrase(2, 3) if rng.random() < 0.2 else None,
            "genre": rng.choice(GENRES),
            "totalTime": rng.randint(90000, 600000) if kind != "audiobook" else rng.randint(3600000, 20000000),
            "playCount": rng.randint(1, 300) if played else 0,
            "lastPlayed": last_played,
            "rating": rng.choice([20, 40, 60, 80, 100]) if rated else None,
            "ratingComputed": (not rated) and rng.random() < 0.1,
            "loved": rng.random() < 0.04,
            "favoritedToo": rng.random() < 0.5,
            "year": rng.randint(1950, 2024),
            "trackNumber": rng.randint(1, 16),
            "added": rng.randint(1104537600, 1700000000),
        })
        if items[-1]["ratingComputed"]:
            items[-1]["rating"] = rng.choice([20, 40, 60, 80])
    return items


def track_xml(item):
    t = "\t\t\t"
    parts = [f"\t\t<key>{item['trackID']}</key>\n\t\t<dict>\n",
             f"{t}<key>Track ID</key><integer>{item['trackID']}</integer>\n",
             f"{t}<key>Name</key><string>{xml_text(item['name'])}</string>\n"]
    if item["artist"] is not None:
        parts.append(f"{t}<key>Artist</key><string>{xml_text(item['artist'])}</string>\n")
    if item["albumArtist"] is not None:
        parts.append(f"{t}<key>Album Artist</key><string>{xml_text(item['albumArtist'])}</string>\n")
    if item["composer"] is not None:
        parts.append(f"{t}<key>Composer</key><string>{xml_text(item['composer'])}</string>\n")
    parts.append(f"{t}<key>Album</key><string>{xml_text(item['album'])}</string>\n")
    parts.append(f"{t}<key>Genre</key><string>{xml_text(item['genre'])}</string>\n")
    parts.append(f"{t}<key>Kind</key><string>{KINDS[item['trackID'] % len(KINDS)]}</string>\n")
    parts.append(f"{t}<key>Size</key><integer>{item['totalTime'] * 32}</integer>\n")
    parts.append(f"{t}<key>Total Time</key><integer>{item['totalTime']}</integer>\n")
    parts.append(f"{t}<key>Track Number</key><integer>{item['trackNumber']}</integer>\n")
    parts.append(f"{t}<key>Year</key><integer>{item['year']}</integer>\n")
    parts.append(f"{t}<key>Date Added</key><date>{iso(item['added'])}</date>\n")
    parts.append(f"{t}<key>Bit Rate</key><integer>256</integer>\n")
    if item["playCount"]:
        parts.append(f"{t}<key>Play Count</key><integer>{item['playCount']}</integer>\n")
    if item["lastPlayed"] is not None:
        parts.append(f"{t}<key>Play Date</key><integer>{item['lastPlayed'] + EPOCH_1904}</integer>\n")
        parts.append(f"{t}<key>Play Date UTC</key><date>{iso(item['lastPlayed'])}</date>\n")
    if item["rating"] is not None:
        parts.append(f"{t}<key>Rating</key><integer>{item['rating']}</integer>\n")
    if item["ratingComputed"]:
        parts.append(f"{t}<key>Rating Computed</key><true/>\n")
    if item["loved"]:
        if item["favoritedToo"]:
            parts.append(f"{t}<key>Favorited</key><true/>\n")
        parts.append(f"{t}<key>Loved</key><true/>\n")
    elif item["trackID"] % 97 == 0:
        parts.append(f"{t}<key>Loved</key><false/>\n")
    if item["kind"] == "podcast":
        parts.append(f"{t}<key>Podcast</key><true/>\n")
    if item["kind"] == "video":
        parts.append(f"{t}<key>Has Video</key><true/>\n")
        parts.append(f"{t}<key>HD</key><false/>\n")
        parts.append(f"{t}<key>Video Width</key><integer>1280</integer>\n")
        parts.append(f"{t}<key>Video Height</key><integer>720</integer>\n")
    parts.append(f"{t}<key>Persistent ID</key><string>{item['persistentID']:016X}</string>\n")
    parts.append(f"{t}<key>Track Type</key><string>File</string>\n")
    suffix = {"audiobook": "m4b", "video": "m4v"}.get(item["kind"], "m4a")
    folder = "Podcasts" if item["kind"] == "podcast" else "Music"
    parts.append(f"{t}<key>Location</key><string>file:///Users/bench/Music/"
                 f"{folder}/{item['trackID']:08d}/{item['trackNumber']:02d}%20Track.{suffix}</string>\n")
    parts.append("\t\t</dict>\n")
    return "".join(parts)


def playlist_xml(name, playlist_id, track_ids, extra=""):
    parts = ["\t\t<dict>\n",
             f"\t\t\t<key>Name</key><string>{xml_text(name)}</string>\n",
             "\t\t\t<key>Description</key><string></string>\n",
             f"\t\t\t<key>Playlist ID</key><integer>{playlist_id}</integer>\n",
             f"\t\t\t<key>Playlist Persistent ID</key><string>{playlist_id:016X}</string>\n",
             extra,
             "\t\t\t<key>All Items</key><true/>\n"]
    if track_ids:
        parts.append("\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n")
        parts.extend(f"\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>{tid}</integer>\n"
                     "\t\t\t\t</dict>\n" for tid in track_ids)
        parts.append("\t\t\t</array>\n")
    parts.append("\t\t</dict>\n")
    return "".join(parts)


def write_xml(path, items, rng):
    with open(path, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" '
                '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
                '<plist version="1.0">\n<dict>\n'
                "\t<key>Major Version</key><integer>1</integer>\n"
                "\t<key>Minor Version</key><integer>1</integer>\n"
                "\t<key>Date</key><date>2024-12-09T08:00:00Z</date>\n"
                "\t<key>Application Version</key><string>1.5.0.73</string>\n"
                "\t<key>Features</key><integer>5</integer>\n"
                "\t<key>Show Content Ratings</key><true/>\n"
                "\t<key>Music Folder</key><string>file:///Users/bench/Music/Music/Media.localized/</string>\n"
                "\t<key>Library Persistent ID</key><string>0123456789ABCDEF</string>\n"
                "\t<key>Tracks</key>\n\t<dict>\n")
        chunk = []
        for item in items:
            chunk.append(track_xml(item))
            if len(chunk) == 2000:
                f.write("".join(chunk))
                chunk.clear()
        f.write("".join(chunk))
        f.write("\t</dict>\n\t<key>Playlists</key>\n\t<array>\n")
        ids = [i["trackID"] for i in items]
        by_kind = lambda kind: [i["trackID"] for i in items if i["kind"] == kind]
        f.write(playlist_xml("Library", 1, ids, "\t\t\t<key>Master</key><true/>\n"
                                                "\t\t\t<key>Visible</key><false/>\n"))
        f.write(playlist_xml("Music", 2, by_kind("song"),
                             "\t\t\t<key>Distinguished Kind</key><integer>4</integer>\n"
                             "\t\t\t<key>Music</key><true/>\n"))
        f.write(playlist_xml("Podcasts", 3, by_kind("podcast"),
                             "\t\t\t<key>Distinguished Kind</key><integer>10</integer>\n"
                             "\t\t\t<key>Podcasts</key><true/>\n"))
        f.write(playlist_xml("Audiobooks", 4, by_kind("audiobook"),
                             "\t\t\t<key>Distinguished Kind</key><integer>5</integer>\n"
                             "\t\t\t<key>Audiobooks</key><true/>\n"))
        f.write(playlist_xml("Voice Memos", 5, [],
                             "\t\t\t<key>Distinguished Kind</key><integer>17</integer>\n"))
        songs = by_kind("song")
        for n in range(20):
            size = min(len(songs), rng.randint(20, 2000))
            f.write(playlist_xml(f"Mix {n + 1} & more", 100 + n, rng.sample(songs, size)))
        f.write("\t</array>\n</dict>\n</plist>\n")


def write_json(path, items):
    media_kind = {"song": 2, "podcast": 4, "video": 12, "audiobook": 5}
    with open(path, "w", encoding="utf-8") as f:
        f.write('{"mediaItems":[\n')
        for n, item in enumerate(items):
            record = {"persistentID": item["persistentID"], "mediaKind": media_kind[item["kind"]],
                      "title": item["name"], "totalTime": item["totalTime"],
                      "playCount": item["playCount"], "rating": item["rating"] or 0,
                      "isRatingComputed": item["ratingComputed"]}
            if item["artist"] is not None:
                record["artist"] = {"name": item["artist"]}
            album = {"title": item["album"]}
            if item["albumArtist"] is not None:
                album["albumArtist"] = item["albumArtist"]
            record["album"] = album
            if item["lastPlayed"] is not None:
                record["lastPlayedDate"] = item["lastPlayed"]
            f.write(("," if n else "") + json.dumps(record, ensure_ascii=False) + "\n")
        loved = [i["persistentID"] for i in items if i["loved"]]
        f.write('],"playlists":[' + json.dumps({"distinguishedKind": 52, "items": loved}) + "]}\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("outdir", nargs="?", help="directory for Library.xml and library.json")
    parser.add_argument("--songs", type=int, default=100000)
    parser.add_argument("--seed", type=int, default=20241209)
    parser.add_argument("--xml", help="path of the Library.xml to write")
    parser.add_argument("--json", help="path of the JSON fixture to write")
    args = parser.parse_args()
    xml_path, json_path = args.xml, args.json
    if args.outdir:
        os.makedirs(args.outdir, exist_ok=True)
        xml_path = xml_path or os.path.join(args.outdir, "Library.xml")
        json_path = json_path or os.path.join(args.outdir, "library.json")
    if not xml_path and not json_path:
        parser.error("give an output directory, --xml or --json")
    rng = random.Random(args.seed)
    items = make_items(args.songs, rng)
    if xml_path:
        write_xml(xml_path, items, random.Random(args.seed + 1))
    if json_path:
        write_json(json_path, items)


if __name__ == "__main__":
    main()
