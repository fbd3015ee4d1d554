#!/usr/bin/env bash
# The Debian package, unpacked into a temporary root: its zoka runs from
# there with no environment (it finds its module beside itself), the man
# page and completions are in it, and bash completes from the module.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/*.deb)
dpkg-deb --field "$deb" Package Depends Recommends
dpkg -x "$deb" "$work/root"
usr=$work/root/usr

test -L "$usr/bin/zoka"
for file in lib/zoka/ZOKA-ENG.so lib/zoka/zoka-images.so lib/zoka/libzoka-frei0r.so \
            lib/frei0r-1/zoka_glow.so lib/python3/dist-packages/zoka/__init__.py share/man/man1/zoka.1 \
            share/bash-completion/completions/zoka share/zsh/vendor-completions/_zoka \
            share/kdenlive/effects/frei0r_zoka_glow.xml; do
    test -f "$usr/$file" || { echo "missing: $file"; exit 1; }
done
grep -q '^\.SS render$' "$usr/share/man/man1/zoka.1"
grep -q 'tag="frei0r.zoka_glow"' "$usr/share/kdenlive/effects/frei0r_zoka_glow.xml"
test "$(ls "$usr"/share/kdenlive/effects/frei0r_zoka_*.xml | wc -l)" -eq 21

# The GEGL operations in the system's plug-in folder, finding the module in
# lib/zoka from there: the gegl command line renders through one.
gegl_plugins=$(pkg-config --variable=pluginsdir gegl-0.4)
test -f "$work/root$gegl_plugins/zoka-gegl.so" || { echo "missing: $gegl_plugins/zoka-gegl.so"; exit 1; }
if command -v gegl > /dev/null; then
    GEGL_PATH="$work/root$gegl_plugins:$gegl_plugins" gegl -o "$work/star.png" -- \
        gegl:rectangle width=64 height=48 color=red zoka:star > "$work/gegl.log" 2>&1
    ! grep -q 'zoka' "$work/gegl.log" || { cat "$work/gegl.log"; exit 1; }
    test -s "$work/star.png"
fi

# No environment: nothing of the build folder on its paths.
env -i "$usr/bin/zoka" list | grep -E '^21  Gaussian Blur +GaussianBlur +registered +renders$'

# The Python module from the package, with the module beside zoka, found
# with no environment but where Debian's python3 would find the package.
dpkg-deb --field "$deb" Recommends | grep -q python3-numpy
env -i PYTHONPATH="$usr/lib/python3/dist-packages" /usr/bin/python3 -c '
import os, sys, numpy, zoka
assert zoka._module_path() == os.path.join(sys.argv[1], "lib/zoka/ZOKA-ENG.so"), zoka._module_path()
image, origin = zoka.render("Glow", numpy.full((10, 10, 4), 255, numpy.uint8), Width=3)
assert image.shape == (18, 18, 4) and origin == (4, 4), (image.shape, origin)
' "$usr"

# Completion, as bash asks for it, with the installed zoka on the path.
PATH="$usr/bin:$PATH" bash -c '
    source "$1/share/bash-completion/completions/zoka"
    complete() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _zoka; echo "${COMPREPLY[*]}"; }
    [[ $(complete zoka re) == "render" ]]
    [[ $(complete zoka params Gl) == "Glass Glow" ]]
    [[ $(complete zoka render Glow in.png out.png --set Dr | tr " " "\n" | sort | xargs) == "DrawEverywhere= DropoffType=" ]]
    [[ $(complete zoka about Drop) == "DropShadow" ]]
    [[ $(complete zoka render Glow in.png out.png --then Gaus) == "GaussianBlur" ]]
    [[ $(complete zoka render Glow in.png out.png --then Squint --set Ra) == "Radius=" ]]
' completion "$usr"
# cmake --install below a user's prefix puts the GEGL plug-in where GEGL
# looks in a user's own folders, finding the module from there.
cmake --install "$build" --prefix "$work/home/.local" > /dev/null
test -f "$work/home/.local/share/gegl-0.4/plug-ins/zoka-gegl.so"
test -f "$work/home/.local/share/kdenlive/effects/frei0r_zoka_glow.xml"
if command -v gegl > /dev/null; then
    XDG_DATA_HOME="$work/home/.local/share" gegl --list-all 2> /dev/null | grep -qx 'zoka:glow'
fi
echo "package: installed and ran from $deb"
