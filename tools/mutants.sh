#!/usr/bin/env bash
# Small mutants of the code that keeps torv-project's promises, each run
# against the tests that should catch it: a mutant the tests do not kill is
# a promise no test holds. Each line of tools/mutants.txt: the file, a Python
# regular expression and what replaces its first match (\n a new line),
# and the tests to run (a GoogleTest filter), separated by " @@ ". Each file
# is put back after its mutant, and at the end.
#   usage: tools/mutants.sh [build-folder [list]]   (a native build with tests; list: tools/mutants.txt)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
list=${2:-tools/mutants.txt}

# Each file mutated is kept as it was, and put back after its mutant.
kept=$(mktemp -d)
current=""
put_back() {
    [ -z "$current" ] || cp "$kept/file" "$current"
    current=""
}
trap 'put_back; rm -rf "$kept"' EXIT

killed=0
survived=()
while IFS= read -r line; do
    [ -n "$line" ] && [ "${line:0:1}" != "#" ] || continue
    file=${line%% @@ *}
    rest=${line#* @@ }
    pattern=${rest%% @@ *}
    rest=${rest#* @@ }
    replacement=${rest%% @@ *}
    tests=${rest##* @@ }
    cp "$file" "$kept/file"
    current=$file
    if ! python3 - "$file" "$pattern" "$replacement" <<'PY'
import re, sys
path, pattern, replacement = sys.argv[1:]
text = open(path).read()
replacement = replacement.replace("\\n", "\n")
changed, count = re.subn(pattern, lambda match: replacement, text, count=1)
if count != 1:
    sys.exit("no match in " + path + " for " + pattern)
open(path, "w").write(changed)
PY
    then
        survived+=("(no match) $file: $pattern")
        put_back
        continue
    fi
    if ! cmake --build "$build" -j2 >/dev/null 2>&1; then
        # A mutant the compiler refuses tells nothing: it is to be rewritten.
        echo "DOES NOT BUILD: $file: $pattern"
        survived+=("(does not build) $file: $pattern")
    else
        failed=0
        for program in unit_tests e2e_tests; do
            listed=$("$build/$program" --gtest_list_tests --gtest_filter="$tests" | grep -c '^  ' || true)
            [ "$listed" -gt 0 ] || continue
            "$build/$program" --gtest_filter="$tests" --gtest_brief=1 >/dev/null 2>&1 || failed=1
        done
        if [ $failed -eq 1 ]; then
            echo "killed: $file: $pattern"
            killed=$((killed + 1))
        else
            echo "SURVIVED: $file: $pattern"
            survived+=("$file: $pattern")
        fi
    fi
    put_back
done <"$list"
cmake --build "$build" -j2 >/dev/null 2>&1
echo "$killed killed, ${#survived[@]} not"
for mutant in "${survived[@]}"; do echo "  not killed: $mutant"; done
[ ${#survived[@]} -eq 0 ]
