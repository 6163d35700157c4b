#!/usr/bin/env bash
# Small mutants of the code that keeps torv-project's promises, each run
# against the tests that should catch it: a mutant the tests do not kill is
# a promise no test holds. Each line below: the file, a Python regular
# expression and what replaces its first match, and the tests to run (a
# GoogleTest filter). The tree is put back after each, and at the end.
#   usage: tools/mutants.sh [build-folder]     (a native build with tests)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

# file | pattern | replacement | tests
mutants=$(cat <<'EOF'
src/project/project.cpp|if \(result<> verified = verify\(in, files, built\.packed\); !verified\)|if (result<> verified = result<>(); !verified)|ProjectApi.*
src/project/project.cpp|if \(hash != source\.sha256\) \{|if (false) {|ProjectEdits.TheOriginal*
src/project/project.cpp|for \(std::size_t tries = 0; tries <= all_edited\.size\(\); \+\+tries\)|for (std::size_t tries = 0; tries < 1; ++tries)|ProjectEdits.EveryImages*
src/project/project.cpp|first = \*read->failed_frame \+ 1;|break;|ProjectEdits.EveryImages*
src/project/build.cpp|sha256_of\(\*file\) != source\.sha256|false|Project.BadInput*
src/project/status.cpp|status\.problems\.push_back\(problem\(source, code::missing_image, file, missing_words\(source, file\)\)\);|;|ProjectEdits.CommandsTake*
src/project/status.cpp|status\.files\[k\] = look\.other;\s*status\.changed\.push_back\(k\);\s*\}\s*else \{|status.problems.push_back(problem(source, code::missing_image, file, file)); } else {|ProjectEdits.EitherKind*
src/project/status.cpp|added\[\*number\]\.push_back\(name\);|;|ProjectEdits.NoFileGiven*
src/project/status.cpp|else if \(is_editor_name\(name\) && of_an_image\)|else if (false)|ProjectEdits.NoFileGiven*
src/project/status.cpp|static_cast<std::uint64_t>\(entry\.size\) > largest_image_file\(image\.width, image\.height\)|false|ProjectSafety.AnImageFar*
src/project/status.cpp|if \(entry\.type == kind::link\) \{|if (false) {|ProjectSafety.LinksAre*
src/project/manifest.cpp|if \(!fresh\) \{\s*lines\.push_back|if (false) { lines.push_back|Manifest.*:ProjectEdits.CommandsTake*
src/project/manifest.cpp|if \(!names\.insert\(lower\(image->file\)\)\.second\)|if (false)|Manifest.*
src/project/manifest.cpp|text\.get<std::string>\(\)\.size\(\) != digits \|\| |/**/|Manifest.*
src/project/manifest.cpp|if \(format == json\(project_format\)\) \{|if (format.is_number_integer() \&\& static_cast<int>(format.get<std::int64_t>()) == project_format) {|Manifest.*:ProjectSafety.Hostile*
src/torv_project/unpack.cpp|return stage\(set, \{cmd\.project, folder \+ "/" \+ made\.name\}, made\.contents, false\);|(void)stage(set, {cmd.project, folder + "/" + made.name}, made.contents, false); return result<>();|ProjectSafety.AFailedWrite*
src/torv_project/apply.cpp|failures\.push_back\(applied\.error\(\)\);|;|Project.APatchForAnother*
src/torv_project/apply.cpp|case patch_match::target:|case patch_match::other:|ProjectEdits.AFileAlready*
src/torv_project/apply.cpp|if \(!fresh\) \{|if (false) {|ProjectSafety.Twins*
src/torv_project/disk.cpp|\} else if \(lies_within\(other, folder\)\) \{|} else if (false) {|ProjectSafety.OutputFolders*
src/torv_project/disk.cpp|if \(lies_within\(folder, other\)\) \{|if (false) {|Project.BadInput*:ProjectEdits.CommandsTake*
src/torv_project/disk.cpp|if \(is_link\(at\)\) \{|if (false) {|ProjectSafety.LinksAre*
src/torv_project/writer.cpp|if \(!staged && staged\.error\(\)\.code == libtorv::code::exists\) \{|if (!staged \&\& staged.error().code == libtorv::code::exists) { return libtorv::result<>();|Project.UnpackedEdited*
src/codec/bps.cpp|if \(in\.at != in\.patch\.size\(\)\) \{|if (false) {|Bps.*
src/codec/bps.cpp|if \(crc32_of\(target\) != facts\.target_crc32\) \{|if (false) {|Bps.*
src/codec/bps.cpp|            value \+= shift;\n|\n|Bps.*
src/io/digest.cpp|for \(std::size_t k = 0; k < count; \+\+k\) SHA256Transform|for (std::size_t k = 0; k + 1 < count; ++k) SHA256Transform|Digest.*
src/pack/prepared_frames.cpp|if \(!in\.ok \|\| in\.at != bytes\.size\(\)\)|if (!in.ok)|PackApi.*
src/pack/prepared_frames.cpp|if \(!ours \|\| in\.u8\(\) != batch_version\)|if (!ours \|\| (in.u8(), false))|PackApi.*
src/pack/prepared_frames.cpp|in\.ok = in\.ok && what <= last_code;|;|PackApi.*
src/io/file_set.cpp|why\.words \+= said\(take_back\(set, k\)\);|why.words += "";|FileSet.*
src/io/file_set.cpp|placed = keep_old_contents\(file\);|placed = result<>();|FileSet.*
src/io/file_set.cpp|if \(!last && kind == entry_kind::link\) \{|if (false) {|FileSet.*:ProjectSafety.ALinkInTheOutput*
src/io/output_file.cpp|process_is_gone\(process\)\) \{|false) {|FileSet.Stale*
src/io/interrupt.cpp|if \(holds\.load\(\) > 0\) \{|if (false) {|ProjectSafety.Signals*
src/pack/fit_palette.cpp|if \(state\.colour\[k\] && state\.first_index\[\*state\.colour\[k\]\] == static_cast<int>\(k\)\)|if (state.colour[k])|FitPalette.*
src/pack/fit_palette.cpp|if \(c\.wanted == no_index \|\| !mostly_known_colours\(\*users\[c\.user\]\.image, state\)\)|if (c.wanted == no_index)|FitPalette.*
EOF
)

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
while IFS='|' read -r file pattern replacement tests; do
    [ -n "$file" ] || continue
    cp "$file" "$kept/file"
    current=$file
    if ! python3 - "$file" "$pattern" "$replacement" <<'PY'
import re, sys
path, pattern, replacement = sys.argv[1:]
text = open(path).read()
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
        echo "killed (does not build): $file: $pattern"
        killed=$((killed + 1))
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
done <<<"$mutants"
cmake --build "$build" -j2 >/dev/null 2>&1
echo "$killed killed, ${#survived[@]} survived"
for mutant in "${survived[@]}"; do echo "  survived: $mutant"; done
[ ${#survived[@]} -eq 0 ]
