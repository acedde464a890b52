# Sourced by the scripts: one build environment for developers and CI.
repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export CCACHE_DIR="${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrilo-hub/ccache}"
export CCACHE_BASEDIR="$repo_root"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
jobs="$(nproc 2>/dev/null || echo 2)"
