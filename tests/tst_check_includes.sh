#!/usr/bin/env bash
# scripts/check-includes on small trees built here: a tree that keeps to the layers passes, and
# each way of breaking them fails with a message that names the fault.
#   tst_check_includes.sh CHECK_INCLUDES
set -uo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A tree of a library class, pipeline classes in three parts, the tool and the Python module.
good_tree() {
    local root=$1
    mkdir -p "$root"/libs/ZTRegionOfInterest "$root"/libs/ZTPicturePipeline/{text,types,input,analysis} \
        "$root"/tools/ztroi "$root"/python/src
    echo '#include <QImage>' > "$root"/libs/ZTRegionOfInterest/ZTMixer.h
    echo '#include <QString>' > "$root"/libs/ZTPicturePipeline/text/ZTFileName.h
    echo '#include <ZTMixer.h>' > "$root"/libs/ZTPicturePipeline/types/ZTReport.h
    printf '#include "types/ZTReport.h"\n' > "$root"/libs/ZTPicturePipeline/input/ZTLoader.h
    printf '#include "input/ZTLoader.h"\n#include "text/ZTFileName.h"\n' \
        > "$root"/libs/ZTPicturePipeline/input/ZTLoader.cpp
    printf '#include "input/ZTLoader.h"\n' > "$root"/libs/ZTPicturePipeline/analysis/ZTAnalyzer.h
    printf '#include "analysis/ZTAnalyzer.h"\n' > "$root"/tools/ztroi/ZTRunner.h
    printf '#include "ZTRunner.h"\n#include <ZTMixer.h>\n' > "$root"/tools/ztroi/main.cpp
    printf '#include "analysis/ZTAnalyzer.h"\n' > "$root"/python/src/module.cpp
}

# expect NAME STATUS PATTERN SETUP...: builds a good tree, runs SETUP in it, then the check.
expect() {
    local name=$1 status=$2 pattern=$3
    shift 3
    local root=$work/$name
    good_tree "$root"
    (cd "$root" && eval "$*")
    local output actual
    output=$("$check" "$root" 2>&1)
    actual=$?
    if [ "$actual" == "$status" ] && grep -q -- "$pattern" <<<"$output"; then
        echo "PASS: $name"
        return
    fi
    printf 'FAIL: %s: status %s (expected %s), output:\n%s\n' "$name" "$actual" "$status" "$output"
    failures=$((failures + 1))
}

expect "layered tree passes" 0 "" true
expect "header cycle" 1 "include cycle: .*ZTLoader -> .*ZTOther -> .*ZTLoader" \
    "echo '#include \"input/ZTOther.h\"' >> libs/ZTPicturePipeline/input/ZTLoader.h;" \
    "echo '#include \"input/ZTLoader.h\"' > libs/ZTPicturePipeline/input/ZTOther.h"
# Only the sources include each other's headers: the classes still depend on each other.
expect "cycle through the sources" 1 "include cycle: .*ZTLoader -> .*ZTOther -> .*ZTLoader" \
    "echo '' > libs/ZTPicturePipeline/input/ZTOther.h;" \
    "echo '#include \"input/ZTLoader.h\"' > libs/ZTPicturePipeline/input/ZTOther.cpp;" \
    "echo '#include \"input/ZTOther.h\"' >> libs/ZTPicturePipeline/input/ZTLoader.cpp"
expect "library includes the pipeline" 1 "layer library may not use" \
    "echo '#include \"types/ZTReport.h\"' >> libs/ZTRegionOfInterest/ZTMixer.h"
expect "pipeline includes the tool" 1 "layer analysis may not use" \
    "echo '#include \"ZTRunner.h\"' >> libs/ZTPicturePipeline/analysis/ZTAnalyzer.h"
# The Python module builds without the tool.
expect "python module includes the tool" 1 "layer python may not use" \
    "echo '#include \"ZTRunner.h\"' >> python/src/module.cpp"
expect "text leaf includes the pipeline" 1 "layer text may not use" \
    "echo '#include \"types/ZTReport.h\"' >> libs/ZTPicturePipeline/text/ZTFileName.h"
expect "pipeline file outside a part" 1 "not in one of the pipeline's folders" \
    "echo '' > libs/ZTPicturePipeline/ZTLoose.h"

exit $((failures > 0))
