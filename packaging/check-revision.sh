#!/bin/sh
# Checks Revision.cmake: a git work tree gives its describe text, a tree
# without git (a tarball) an empty revision, also when unpacked inside some
# other work tree.
#   check-revision.sh CMAKE REVISION_SCRIPT
set -u
cmake=$1 script=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
revision() {  # revision SOURCE_DIR: the string the generated source returns
    "$cmake" -DSOURCE_DIR="$1" -DOUT="$dir/out.cpp" -P "$script" &&
        sed -n 's/.*return "\(.*\)";.*/\1/p' "$dir/out.cpp"
}
check() {  # check WHAT GOT PATTERN
    case "$2" in
        $3) ;;
        *) echo "FAIL: $1: got '$2'"; failures=$((failures + 1)) ;;
    esac
}

mkdir "$dir/tarball" && echo a >"$dir/tarball/file"
check "no git" "$(revision "$dir/tarball")" ""

git="git -C $dir/repo -c user.name=t -c user.email=t@t.invalid"
mkdir -p "$dir/repo/unpacked" && echo a >"$dir/repo/file" && echo b >"$dir/repo/unpacked/file"
$git init -q && $git add . && $git commit -q -m one
hash=$($git rev-parse --short HEAD)
check "clean work tree" "$(revision "$dir/repo")" "$hash"
check "inside another work tree" "$(revision "$dir/repo/unpacked")" ""
echo c >"$dir/repo/file"
check "changed work tree" "$(revision "$dir/repo")" "$hash-dirty"
$git commit -q -am two && $git tag v9.8.7
check "tagged commit" "$(revision "$dir/repo")" "v9.8.7"

[ "$failures" -eq 0 ] && echo "revision: all cases pass"
exit $((failures > 0))
