# SPDX-License-Identifier: MIT
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

# What every build of the core needs, and the command line beside it:
# CLI11 and the JSON library (both header-only: the Windows cross build takes
# them from here too), and Russian prose (fortunes-ru) for the test of the
# records' encoding.
CORE_PACKAGES=(ca-certificates cmake ninja-build g++ make googletest libgtest-dev libgmock-dev
    libcli11-dev nlohmann-json3-dev fortunes-ru)

# What the window needs besides the core: Qt 6 Widgets (its development
# package brings the OpenGL headers its CMake files look for), libxcb for the
# hints the window gives an X11 window manager, the narrow sans that stands in
# for the window's font, and Qt's own Russian texts.
APP_PACKAGES=(qt6-base-dev libxcb1-dev fonts-liberation qt6-translations-l10n)

# What showing the window under a window manager needs: a virtual X server,
# openbox, and xprop for reading what the window told the window manager.
WM_PACKAGES=(xvfb openbox x11-utils)

# run_under_window_manager COMMAND...: runs the command on a virtual X display
# of its own (1024x768) managed by openbox, then stops both.
run_under_window_manager() {
    local numbers xvfb wm display status=0 tries
    numbers=$(mktemp)
    # Xvfb picks a free display and writes its number once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numbers" 2>/dev/null &
    xvfb=$!
    for ((tries = 0; tries < 100; ++tries)); do
        [ -s "$numbers" ] && break
        sleep 0.1
    done
    display=":$(head -n 1 "$numbers")"
    rm -f "$numbers"
    if [ "$display" = ":" ]; then
        echo "Xvfb did not start" >&2
        kill "$xvfb" 2>/dev/null || true
        return 1
    fi
    DISPLAY=$display openbox >/dev/null 2>&1 &
    wm=$!
    for ((tries = 0; tries < 100; ++tries)); do
        DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done
    if DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        DISPLAY=$display "$@" || status=$?
    else
        echo "openbox did not start" >&2
        status=1
    fi
    kill "$wm" "$xvfb" 2>/dev/null || true
    wait "$wm" "$xvfb" 2>/dev/null || true
    return "$status"
}

# What the Windows stage adds: the cross compiler, wine to run the programs,
# NSIS for the installer, wine's own fonts (Marlett for the caption buttons;
# the window asks for the Cyrillic character set, so MS Sans Serif's Western
# bitmap face is never chosen for its Russian texts), Xvfb for the smoke run
# of the real program under a Russian locale (locales) and Python for its
# picture.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 wine nsis fonts-wine xvfb python3 locales)

# What the hostile-table tests add: the independent reader the corrected
# tables are compared in, Python for it and for the seed generator, and
# bindfs (FUSE) to write a table behind a mount while the tool holds it.
HOSTILE_PACKAGES=(python3 python3-dbfread bindfs fuse3)

# What the package stage adds: the package's checker and the validators of
# the menu entry and the AppStream metadata, the MIME database the menu
# entry's types are checked against, and dpkg-shlibdeps for the package's
# dependencies.
PACKAGE_PACKAGES=(git lintian appstream desktop-file-utils shared-mime-info dpkg-dev)

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

# ensure_source_package NAME DIR: unpacks Debian's source package NAME into
# DIR once, for a library Debian builds for Linux only, to be cross-built from
# the same sources. Adds Debian's source archive to apt's sources when none is
# there.
ensure_source_package() {
    local name=$1 dir=$2
    compgen -G "$dir/$name-*/" >/dev/null && return 0
    ensure_packages dpkg-dev xz-utils
    if ! apt-get source --print-uris "$name" >/dev/null 2>&1; then
        echo "Adding Debian's source archive to apt's sources"
        local suite
        suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
        printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
            "$suite" /usr/share/keyrings/debian-archive-keyring.gpg |
            as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
        as_root apt-get update -qq
    fi
    mkdir -p "$dir"
    # Fetched as whoever runs this: apt's own download user need not reach DIR.
    (cd "$dir" && apt-get source -qq -o APT::Sandbox::User="$(id -un)" "$name" >/dev/null)
}

# How the start and test scripts configure the native build folder. Both
# share `build`, and CMake keeps in its cache whatever an earlier configure
# set, so each states every option it relies on: a folder the start script
# configured, without tests, gets them back from the test script.
# scripts/check-build-options checks that the test script's set, run over the
# start script's, gives what it gives on a fresh folder.
START_OPTIONS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDBF_BUILD_APP=ON -DDBF_BUILD_WIN32_APP=OFF -DDBF_BUILD_CLI=ON
    -DDBF_BUILD_TESTS=OFF -DDBF_BUILD_BENCH=OFF -DDBF_BUILD_FUZZ=OFF -DDBF_SANITIZE= -DDBF_WERROR=OFF)
TEST_OPTIONS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDBF_BUILD_APP=ON -DDBF_BUILD_WIN32_APP=OFF -DDBF_BUILD_CLI=ON
    -DDBF_BUILD_TESTS=ON -DDBF_BUILD_BENCH=ON -DDBF_BUILD_FUZZ=OFF -DDBF_SANITIZE= -DDBF_WERROR=ON)

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)"
}
