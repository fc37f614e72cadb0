#!/usr/bin/env bash
# Runs the dialog test program (test_browse_window) in a virtual X display, so
# that its cases which open the driver's "Tag Format" dialog run too, and takes
# the screenshots it asks for.
#
#   browse_window_display.sh ARTIFACT_DIR COMMAND...
#
# COMMAND is the program with whatever runs it (the build's Wine runner). The
# program asks for a screenshot by writing NAME.ready into TOLDEX_SHOT_DIR with
# the screen area WxH+X+Y; this script then saves ARTIFACT_DIR/NAME.png with
# ImageMagick's import and answers with NAME.taken.
set -euo pipefail

in_display() {
  "$@" &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    for ready in "$shots"/*.ready; do
      [[ -e "$ready" ]] || continue
      local name geometry
      name=$(basename "$ready" .ready)
      geometry=$(head -n 1 "$ready")
      if ! import -window root -crop "$geometry" +repage "$artifacts/$name.png"; then
        import -window root "$artifacts/$name.png" || true
      fi
      echo "screenshot: $artifacts/$name.png ($geometry)"
      mv "$ready" "$shots/$name.taken"
    done
    sleep 0.1
  done
  local status=0
  wait "$pid" || status=$?
  if [[ -n "$prefix" && -n "$loader" && -x "$(dirname "$loader")/wineserver" ]]; then
    WINEPREFIX=$prefix timeout 60 "$(dirname "$loader")/wineserver" -w || true
  fi
  return "$status"
}

# Inside the display: run the program and serve its screenshot requests.
if [[ ${1:-} == --in-display ]]; then
  shift
  in_display "$@"
  exit $?
fi

if [[ $# -lt 2 ]]; then
  echo "usage: $0 ARTIFACT_DIR COMMAND..." >&2
  exit 2
fi
artifacts=$1
shift
for tool in xvfb-run import; do
  if ! command -v "$tool" >/dev/null; then
    echo "TOLDEX-SKIP: $tool is not installed (packages xvfb and imagemagick)"
    exit 0
  fi
done
mkdir -p "$artifacts"
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT

# The Wine runner's prefix and loader, when the command names them: the
# window decorations are Wine's own (there is no window manager to draw a
# caption), and Wine's processes are waited for before the display goes.
prefix=""
loader=""
arguments=("$@")
for ((i = 0; i < ${#arguments[@]}; ++i)); do
  case "${arguments[i]}" in
    --prefix) prefix=${arguments[i + 1]} ;;
    --loader) loader=${arguments[i + 1]} ;;
    *.exe)
      if [[ $i -gt 0 ]]; then
        runner=("${arguments[@]:0:i}")
        "${runner[@]}" reg add \
          "HKCU\\Software\\Wine\\AppDefaults\\$(basename "${arguments[i]}")\\X11 Driver" \
          /v Decorated /d N /f >/dev/null 2>&1 || true
        # That Wine session has no display: it must be over before the
        # program's session starts in the virtual one.
        if [[ -n "$prefix" && -n "$loader" && -x "$(dirname "$loader")/wineserver" ]]; then
          WINEPREFIX=$prefix timeout 60 "$(dirname "$loader")/wineserver" -w || true
        fi
      fi
      break
      ;;
  esac
done

export TOLDEX_GUI_TESTS=1
# Wine maps drive Z: to the root of the file system.
export TOLDEX_SHOT_DIR="Z:${shots//\//\\}"

export shots artifacts prefix loader

# -a: a free display number, as other runs may hold one.
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" --in-display "$@"
