#!/usr/bin/env bash
# Includes run one way: hosts -> instrument -> engine. Only the program's
# own code reaches app/; the engine and the instrument are kept to their
# include roots by the build itself.
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"
status=0
for dir in instrument engine editors patches devices plugin tools fuzz bench; do
  [ -d "$dir" ] || continue
  if hits=$(grep -rnE '^\s*#\s*include\s*"app/' "$dir" --include='*.h' --include='*.cpp'); then
    echo "includes of app/ from $dir/:"
    echo "$hits"
    status=1
  fi
done
# The instrument knows nothing of windows, devices or plugin APIs.
if hits=$(grep -rnE '^\s*#\s*include\s*"' instrument | grep -vE '"(instrument|engine)/'); then
  echo "instrument/ includes beyond itself and the engine:"
  echo "$hits"
  status=1
fi
exit $status
