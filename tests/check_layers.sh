#!/bin/sh
# Includes inside the core run only downward. The floors, lowest first: model (data only),
# ports (the interfaces), context (what every handler works on), traffic (the one path of
# every frame), the subsystems beside one another (serial, commands, adjust, window), and
# panel, which routes. A file may include its own floor's folder and any lower floor.
# Usage: check_layers.sh CORE_DIR
core="$1"
floor() {
    case "$1" in
    model) echo 0 ;; ports) echo 1 ;; context) echo 2 ;; traffic) echo 3 ;;
    serial | commands | adjust | window) echo 4 ;; panel) echo 5 ;; *) echo "" ;;
    esac
}
status=0
for file in $(cd "$core" && find . -name '*.h' -o -name '*.cpp'); do
    from=$(echo "$file" | cut -d/ -f2)
    [ -n "$(floor "$from")" ] || { echo "$file: a folder with no floor"; status=1; continue; }
    for to in $(sed -n 's|^#include "\([a-z]*\)/.*|\1|p' "$core/$file"); do
        if [ -z "$(floor "$to")" ] || { [ "$to" != "$from" ] && [ "$(floor "$to")" -ge "$(floor "$from")" ]; }; then
            echo "$file includes $to/: not below $from/"
            status=1
        fi
    done
done
exit $status
