# Shared by the start and test scripts: installing what is missing from
# Debian's packages, and configuring and building a tree.

# Root runs apt-get itself; anyone else goes through sudo.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the named packages that are not installed yet; asks the package
# archive nothing when all are there.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ -z "${DBF_APT_UPDATED:-}" ]; then
        as_root apt-get update -qq
        export DBF_APT_UPDATED=1
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What every build of the core needs.
CORE_PACKAGES=(ca-certificates cmake ninja-build g++ make googletest libgtest-dev libgmock-dev)

# What the window needs besides the core: Qt 6 Widgets (its development
# package brings the OpenGL headers its CMake files look for) and the narrow
# sans that stands in for the window's font.
APP_PACKAGES=(qt6-base-dev fonts-liberation)

# What the hostile-table tests add: the independent reader the corrected
# tables are compared in, and Python for it and for the seed generator.
HOSTILE_PACKAGES=(python3 python3-dbfread)

# What the package stage adds: the package's checker and the validators of
# the menu entry and the AppStream metadata, and dpkg-shlibdeps for the
# package's dependencies.
PACKAGE_PACKAGES=(git lintian appstream desktop-file-utils dpkg-dev)

# The project's source files under git, one "STYLE PATH" line each, STYLE
# being the comment the licence line takes: "//" for C++, "#" for CMake,
# shell and Python (scripts without an extension are known by their "#!"
# line). The CI runner's own folder is not the project's code.
licence_sources() {
    local path first
    git ls-files -z -- . ':!:.ci/' | while IFS= read -r -d '' path; do
        case "$path" in
            *.cpp | *.h | *.hpp | *.cc | *.h.in) echo "// $path" ;;
            CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh | *.py) echo "# $path" ;;
            *)
                case "${path##*/}" in *.*) continue ;; esac
                [ -f "$path" ] || continue
                IFS= read -r first < "$path" || true
                case "$first" in
                    '#!'*sh* | '#!'*python*) echo "# $path" ;;
                esac
                ;;
        esac
    done
}

# has_licence_line FILE: the SPDX line stands within FILE's first two lines
# (the second when the first is a "#!" line).
has_licence_line() {
    head -n 2 -- "$1" | grep -q 'SPDX-License-Identifier: MIT'
}

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)"
}
