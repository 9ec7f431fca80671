#!/usr/bin/env python3
"""Writes large synthetic player libraries for benchmarks, from the same songs as
generate_library.py: Rhythmbox's rhythmdb.xml (the elements, order, omissions and escapes
Rhythmbox writes) and Strawberry's strawberry.db (its schema 23, rows as its collection writes
them, a streaming service's and a device's tables beside them).

    generate_player_libraries.py --songs N --rhythmdb rhythmdb.xml --strawberry strawberry.db

The same seed always gives the same files.
"""
import argparse
import os
import random
import sqlite3
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from generate_library import make_items  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STRAWBERRY_SCHEMA = os.path.join(ROOT, "tests/platform/linux/library/strawberry-schema-23.sql")
URI_SAFE = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!$&'()*+,-./:=@_~")
MEDIA_TYPES = ["audio/mpeg", "audio/x-flac", "audio/x-vorbis", "audio/x-opus", "audio/x-aac"]
SUFFIXES = {"audio/mpeg": "mp3", "audio/x-flac": "flac", "audio/x-vorbis": "ogg",
            "audio/x-opus": "opus", "audio/x-aac": "m4a"}


def rhythmbox_text(text):
    """As libxml2's xmlEncodeEntitiesReentrant(NULL, ...) writes it: pure ASCII."""
    out = []
    for c in text:
        if c == "&":
            out.append("&amp;")
        elif c == "<":
            out.append("&lt;")
        elif c == ">":
            out.append("&gt;")
        elif c == "\r":
            out.append("&#13;")
        elif ord(c) >= 0x80:
            out.append(f"&#x{ord(c):X};")
        else:
            out.append(c)
    return "".join(out)


def file_uri(path):
    """As g_filename_to_uri writes it."""
    return "file://" + "".join(chr(b) if b in URI_SAFE else f"%{b:02X}" for b in path.encode())


def song_path(item):
    artist = item["albumArtist"] or item["artist"] or "Unknown"
    return (f"/home/bench/Music/{artist}/{item['album']}/"
            f"{item['trackNumber']:02d} {item['name']} ({item['trackID']})")


def rhythmdb_entry(item):
    media = MEDIA_TYPES[item["trackID"] % len(MEDIA_TYPES)]
    seconds = item["totalTime"] // 1000
    elements = [("title", item["name"]), ("genre", item["genre"]),
                ("artist", item["artist"] or ""), ("album", item["album"]),
                ("track-number", str(item["trackNumber"])), ("duration", str(seconds)),
                ("file-size", str(item["totalTime"] * 32)),
                ("location", file_uri(song_path(item) + "." + SUFFIXES[media])),
                ("mtime", str(item["added"])), ("first-seen", str(item["added"])),
                ("last-seen", "1733700000")]
    if item["rating"] is not None:
        # Merged entries average their ratings.
        stars = item["rating"] / 20 - (0.5 if item["trackID"] % 7 == 0 else 0)
        elements.append(("rating", f"{stars:g}"))
    if item["playCount"]:
        elements.append(("play-count", str(item["playCount"])))
    if item["lastPlayed"] is not None:
        elements.append(("last-played", str(item["lastPlayed"])))
    if media in ("audio/mpeg", "audio/x-vorbis", "audio/x-aac"):
        elements.append(("bitrate", "256"))
    elements.append(("date", str(730000 + item["year"])))
    elements.append(("media-type", media))
    if item["trackID"] % 101 == 0:
        elements.append(("hidden", "1"))
    if item["albumArtist"]:
        elements.append(("album-artist", item["albumArtist"]))
    if item["composer"]:
        elements.append(("composer", item["composer"]))
    body = "".join(f"    <{name}>{rhythmbox_text(value)}</{name}>\n" for name, value in elements)
    return f'  <entry type="song">\n{body}  </entry>\n'


def other_entry(item):
    """Podcasts and videos of the shared items stand in for Rhythmbox's other entry types."""
    if item["kind"] == "podcast":
        return ('  <entry type="podcast-post">\n'
                f"    <title>{rhythmbox_text(item['name'])}</title>\n    <genre>Podcast</genre>\n"
                f"    <artist>Show</artist>\n    <album>Show</album>\n"
                f"    <location>file:///home/bench/Podcasts/{item['trackID']}.mp3</location>\n"
                f"    <mountpoint>https://feed.example/{item['trackID']}.mp3</mountpoint>\n"
                f"    <play-count>{item['playCount'] or 1}</play-count>\n    <date>0</date>\n"
                "    <media-type>audio/mpeg</media-type>\n    <status>100</status>\n"
                "  </entry>\n")
    return ('  <entry type="iradio">\n'
            f"    <title>Station {item['trackID']}</title>\n    <genre></genre>\n"
            "    <artist></artist>\n    <album></album>\n"
            f"    <location>http://radio.example/{item['trackID']}</location>\n"
            "    <date>0</date>\n    <media-type>application/octet-stream</media-type>\n"
            "  </entry>\n")


def write_rhythmdb(path, items):
    with open(path, "w", encoding="ascii") as f:
        f.write('<?xml version="1.0" standalone="yes"?>\n<rhythmdb version="2.0">\n')
        chunk = []
        for item in items:
            chunk.append(rhythmdb_entry(item) if item["kind"] == "song" else other_entry(item))
            if len(chunk) == 2000:
                f.write("".join(chunk))
                chunk.clear()
        f.write("".join(chunk))
        f.write("</rhythmdb>\n")


def strawberry_rating(rating):
    """Strawberry's float rating as SQLite ends up storing it: 0.800000011920929, 1, -1."""
    if rating is None:
        return -1
    if rating == 100:
        return 1
    return struct.unpack("f", struct.pack("f", rating / 100))[0]


def strawberry_row(item, url, beginning=0, length=None):
    rating = strawberry_rating(item["rating"])
    return (item["name"], item["album"], item["artist"] or "", item["albumArtist"] or "",
            item["trackNumber"], item["year"], item["genre"], item["composer"] or "", beginning,
            length if length is not None else item["totalTime"] * 1_000_000, 256, 44100, 16, url,
            2 if url.endswith(".flac") else 8, item["totalTime"] * 32, item["added"],
            item["added"], item["playCount"], item["trackID"] % 3,
            item["lastPlayed"] if item["lastPlayed"] is not None else -1, 1733700000,
            item["albumArtist"] or item["artist"] or "", rating,
            f"file:///home/bench/Music/{item['album']}/cover.jpg")


def write_strawberry(path, items):
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    with open(STRAWBERRY_SCHEMA) as schema:
        db.executescript(schema.read())
    columns = ("title, album, artist, albumartist, track, year, genre, composer, beginning, "
               "length, bitrate, samplerate, bitdepth, url, filetype, filesize, mtime, ctime, "
               "playcount, skipcount, lastplayed, lastseen, effective_albumartist, rating, "
               "art_automatic")
    insert = (f"INSERT INTO songs ({columns}, source, directory_id) VALUES "
              f"({', '.join('?' * 25)}, 2, 1)")
    rows = []
    songs = [item for item in items if item["kind"] == "song"]
    for index, item in enumerate(songs):
        url = file_uri(song_path(item) + ".flac")
        if index % 100 == 99:
            # A CUE sheet: three tracks of one file, told apart by their beginning.
            part = item["totalTime"] * 1_000_000 // 3
            rows.extend(strawberry_row(item, url, i * part, part) for i in range(3))
        else:
            rows.append(strawberry_row(item, url))
    db.executemany(insert, rows[:len(songs)])
    # The streaming services' and devices' copies, which a scan must leave alone.
    for table in ("subsonic_songs", "device_1_songs"):
        db.executemany(insert.replace("songs", table, 1), rows[:len(songs) // 20])
    db.commit()
    db.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--songs", type=int, default=100000)
    parser.add_argument("--rhythmdb")
    parser.add_argument("--strawberry")
    args = parser.parse_args()
    items = make_items(args.songs, random.Random(20241209))
    if args.rhythmdb:
        write_rhythmdb(args.rhythmdb, items)
    if args.strawberry:
        write_strawberry(args.strawberry, items)


if __name__ == "__main__":
    main()
