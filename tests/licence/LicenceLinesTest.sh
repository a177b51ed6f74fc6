#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/check-licence and scripts/add-licence-lines on a small repository of
# their own: check finds exactly the source files without the line, add puts
# it in each file's comment syntax (after a "#!" line), keeps the files' modes
# and the rest of their bytes, and a second run changes nothing.
#
#   LicenceLinesTest.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cd "$work"
git init -q .
mkdir -p scripts src/core .ci tests
cp "$source_dir/scripts/lib.sh" "$source_dir/scripts/check-licence" "$source_dir/scripts/add-licence-lines" scripts/
head -n 2 scripts/lib.sh | grep -q SPDX || sed -i '1i # SPDX-License-Identifier: MIT' scripts/lib.sh
printf '// A table.\nint x;\n' > src/core/Table.cpp
printf '#pragma once\n' > src/core/Table.h
printf 'add_library(t STATIC Table.cpp)\n' > src/core/CMakeLists.txt
printf 'set(X 1)\n' > tests/Check.cmake
printf '#!/usr/bin/env bash\necho run\n' > scripts/stage-x
printf '#!/usr/bin/env python3\nprint(1)\n' > tests/reader.py
printf '#!/bin/sh\n# SPDX-License-Identifier: MIT\nexit 0\n' > scripts/already
printf '// SPDX-License-Identifier: MIT\nint y;\n' > src/core/Done.cpp
printf 'plain notes\n' > NOTES
printf '# Title\n' > README.md
printf '#!/usr/bin/env bash\n./scripts/test\n' > .ci/run
chmod +x scripts/stage-x scripts/already tests/reader.py .ci/run
git add -A

set +e
listed=$(scripts/check-licence 2>/dev/null)
status=$?
set -e
[ "$status" -eq 1 ] || fail "check-licence exited $status with files lacking the line"
expected="no licence line: src/core/CMakeLists.txt
no licence line: src/core/Table.cpp
no licence line: src/core/Table.h
no licence line: scripts/stage-x
no licence line: tests/Check.cmake
no licence line: tests/reader.py"
[ "$(sort <<<"$listed")" = "$(sort <<<"$expected")" ] || fail "check-licence listed:
$listed"

scripts/add-licence-lines >/dev/null
expect_file() {
    [ "$(cat "$1")" = "$(printf "$2")" ] || fail "$1 holds:
$(cat "$1")"
}
expect_file src/core/Table.cpp '// SPDX-License-Identifier: MIT\n// A table.\nint x;'
expect_file src/core/Table.h '// SPDX-License-Identifier: MIT\n#pragma once'
expect_file src/core/CMakeLists.txt '# SPDX-License-Identifier: MIT\nadd_library(t STATIC Table.cpp)'
expect_file scripts/stage-x '#!/usr/bin/env bash\n# SPDX-License-Identifier: MIT\necho run'
expect_file tests/reader.py '#!/usr/bin/env python3\n# SPDX-License-Identifier: MIT\nprint(1)'
expect_file scripts/already '#!/bin/sh\n# SPDX-License-Identifier: MIT\nexit 0'
expect_file NOTES 'plain notes'
expect_file .ci/run '#!/usr/bin/env bash\n./scripts/test'
[ -x scripts/stage-x ] && [ -x tests/reader.py ] || fail "a script lost its executable mode"
scripts/stage-x >/dev/null || fail "the script no longer runs"

scripts/check-licence >/dev/null || fail "check-licence still fails after add-licence-lines"
before=$(git ls-files -z | xargs -0 md5sum)
scripts/add-licence-lines >/dev/null
[ "$(git ls-files -z | xargs -0 md5sum)" = "$before" ] || fail "a second add-licence-lines changed files"
echo "licence lines ok"
