# Sourced first by every end-to-end script: its arguments (the program, then a
# folder for output, made and taken as an absolute path), Wine's environment, the
# window helpers and a display.
exe=$1
outdir=$2
mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
source "$(dirname "${BASH_SOURCE[0]}")/xkeys.sh"
veldmoor_start_xvfb
