#!/usr/bin/env python3
"""Writes a sample game folder for the demo and the benchmarks: files of deterministic bytes spread
over the game's data directories. Usage: make_sample_game.py FOLDER [FILES [TOTAL_MB]]"""
import hashlib
import os
import sys

FOLDERS = [
    "contents", "contents/items", "contents/items/shops", "contents/magics", "contents/msgs/events",
    "contents/news", "contents/skills", "mapdata", "music", "sounds", "fonts", "language", "shader",
    "sprites/effects", "sprites/items/M", "sprites/items/W", "sprites/maps", "sprites/npcs",
    "sprites/players", "sprites/ui",
]
EXTENSIONS = {"music": ".ogg", "sounds": ".wav", "fonts": ".ttf", "mapdata": ".map", "shader": ".fx",
              "language": ".txt", "sprites": ".spr", "contents": ".dat"}


def deterministic_bytes(name, size):
    """Bytes that depend only on the name and the size, so every run publishes the same game."""
    out = bytearray()
    block = hashlib.sha256(name.encode()).digest()
    while len(out) < size:
        block = hashlib.sha256(block).digest()
        out += block * 64
    return bytes(out[:size])


def main():
    folder = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    total = int(float(sys.argv[3]) * 1024 * 1024) if len(sys.argv) > 3 else 6 * 1024 * 1024
    sizes = [(i * 7919 % 97 + 3) for i in range(count)]
    scale = total / sum(sizes)
    for i in range(count):
        directory = FOLDERS[i % len(FOLDERS)]
        extension = EXTENSIONS.get(directory.split("/")[0], ".dat")
        path = os.path.join(folder, directory, "file%03d%s" % (i, extension))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(deterministic_bytes(path[len(folder):], max(1, int(sizes[i] * scale))))
    print("%s: %d files, %.1f MB" % (folder, count, total / 1048576))


if __name__ == "__main__":
    main()
