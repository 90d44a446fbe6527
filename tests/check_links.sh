#!/bin/sh
# The README and the guides in docs/: every link to a file of the repository leads to one
# that is there, every #anchor to a heading of its page, and every guide is reachable from
# the README, and every code block is closed (one left open swallows the rest of the page).
# Usage: check_links.sh SOURCE_DIR
cd "$1" || exit 1
status=0
slugs() { # the anchors of a Markdown file's headings, as GitHub makes them
    grep -E '^#{1,6} ' "$1" | sed -E 's/^#+ //' | tr 'A-Z' 'a-z' |
        sed -E 's/[^a-z0-9 _-]//g; s/ /-/g'
}
for page in README.md docs/*.md; do
    dir=$(dirname "$page")
    for link in $(grep -oE '\]\([^)#[:space:]]*(#[^)[:space:]]*)?\)' "$page" | sed -E 's/^\]\(//; s/\)$//'); do
        case "$link" in http://* | https://* | mailto:*) continue ;; esac
        file=${link%%#*}
        anchor=
        case "$link" in *'#'*) anchor=${link#*#} ;; esac
        target=$page
        [ -n "$file" ] && target="$dir/$file"
        if [ ! -e "$target" ]; then
            echo "$page: $link: no such file"
            status=1
        elif [ -n "$anchor" ] && ! slugs "$target" | grep -qx -- "$anchor"; then
            echo "$page: $link: no such heading in $target"
            status=1
        fi
    done
done
for page in README.md docs/*.md; do
    fences=$(grep -cE '^ *```' "$page")
    [ $((fences % 2)) -eq 0 ] || { echo "$page: a code block is never closed"; status=1; }
done
for guide in docs/*.md; do
    name=$(basename "$guide")
    grep -q "](docs/$name" README.md || grep -rq "]($name" docs/*.md ||
        { echo "$guide: no page links to it"; status=1; }
done
exit $status
