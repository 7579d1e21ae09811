#!/usr/bin/env bash
# Installs what is missing, builds everything, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh release -DCMAKE_BUILD_TYPE=Release -DMENDRA_BUILD_TESTS=OFF

bin=build/release/bin
if [ -x "$bin/mendra" ]; then
  exec "$bin/mendra" "$@"
fi
# The main window is not built yet: the copy worker runs by hand.
cat <<TXT
Built $bin/vrel, the copy worker. Run it by hand:

  $bin/vrel "<source>;<target>;<block size in bytes, 0 for variable speed>"

for example:  $bin/vrel "/dev/sr0;\$HOME/rescued.iso;4096"
Progress: \${XDG_CONFIG_HOME:-\$HOME/.config}/Vrel/settings.ini, section [Info].
TXT
