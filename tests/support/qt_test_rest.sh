#!/usr/bin/env bash
# Runs a Qt Test program on its test functions but those named after "--":
# the ones that other parts of it, run beside, do not run.
#
#   qt_test_rest.sh PROGRAM [ARGUMENT...] -- FUNCTION...
set -euo pipefail
program=()
while [[ $# -gt 0 && $1 != -- ]]; do
  program+=("$1")
  shift
done
[[ $# -gt 0 ]] && shift
declare -A taken
for function in "$@"; do taken[$function]=1; done
rest=()
while read -r line; do
  function=${line%"()"}
  [[ -n $function && -z ${taken[$function]:-} ]] && rest+=("$function")
done < <("${program[@]}" -functions)
if [[ ${#rest[@]} -eq 0 ]]; then
  echo "no test function of ${program[0]} is left to run here" >&2
  exit 1
fi
exec "${program[@]}" "${rest[@]}"
