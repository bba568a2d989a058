# The start shared by the checks that drive tandem-cli (crash, pair, isa), sourced by
# them: `check_begin NAME [path/to/tandem-cli]` sets cli (the argument, else TANDEM_CLI,
# else build/bin/tandem-cli), work (a folder removed at exit unless NAME_KEEP is set,
# e.g. PAIR_KEEP=1) and a settings folder of the check's own; fail reports and stops.
check_begin() {  # name [cli]
  check_name=$1_check
  cli=$(realpath "${2:-${TANDEM_CLI:-build/bin/tandem-cli}}")
  work=$(mktemp -d "/tmp/tandem-$1-XXXXXX")
  check_keep=${1^^}_KEEP
  trap '[ -n "${!check_keep:-}" ] || rm -rf "$work"' EXIT
  export XDG_CONFIG_HOME=$work/config
}

fail() { echo "$check_name: FAIL: $*" >&2; exit 1; }
