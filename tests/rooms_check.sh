#!/bin/sh
# Each room of the tools includes headers only from itself and the rooms
# below it: the images know no command, the command line no site or studio
# (but for its program, main.cpp, which offers their commands), the Python
# module the command line's requests but no site or studio, and no tool
# reaches inside the module. Prints every include that breaks the rule.
cd "$(dirname "$0")/.." || exit 2
status=0
check() {  # room, the rooms it may include, files left out
    room=$1 allowed=$2 except=$3
    for file in $(find "$room" -name '*.cpp' -o -name '*.h' | sort); do
        [ "$file" = "$except" ] && continue
        for used in $(sed -n 's/^#include "\([a-z0-9_]*\)\/.*/\1/p' "$file" | sort -u); do
            case " $allowed " in
                *" $used "*) ;;
                *) echo "$file includes $used/, which $room/ may not use"; status=1 ;;
            esac
        done
    done
}
check images "images ourhost interface"
check cli "cli images ourhost interface" cli/main.cpp
check cli/main.cpp "cli images site studio ourhost interface"
check site "site cli images ourhost interface"
check studio "studio cli images ourhost interface"
check frei0r "frei0r ourhost interface"
check python "python cli images ourhost interface"
check gegl "gegl ourhost interface"
exit $status
