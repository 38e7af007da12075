#!/bin/sh
# Builds the artwork generator and redraws every image under resources/. Also writes previews of
# the pages as the window shows them to build/artwork/previews/ and prints file sizes and decode
# times, so a change to the artwork can be looked at and weighed before it is committed.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build/artwork"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEMBRIK_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" --target ArtworkGenerator

generator="$build/tools/ArtworkGenerator"
"$generator" "$here/resources"
"$generator" --compose "$here/resources" "$build/previews"
"$generator" --measure "$here/resources"
