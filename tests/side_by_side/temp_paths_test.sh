#!/usr/bin/env bash
# scripts/check-temp-paths reports each line that builds a fixed name in the
# shared temporary folder, and none that makes a name of its own, names X's
# files, is a comment, or is a machine-wide lock.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cat >"$work/sample_test.cpp" <<'CPP'
const auto a = std::filesystem::temp_directory_path() / "ondaline-a.txt";         // reported
const auto b = (fs::temp_directory_path() /
                ("ondaline-b-" + std::to_string(getpid())));
const QString c = QDir::temp().filePath("ondaline-c.png");                       // reported
const QString d = QDir::tempPath() + "/ondaline-d";                              // reported
char e[] = "/tmp/ondaline-e.lock";                                               // reported
const char* f = std::getenv("TMPDIR");                                           // reported
const auto g = QStandardPaths::writableLocation(QStandardPaths::TempLocation);   // reported
std::string h = (fs::temp_directory_path() / "ondaline-h-XXXXXX").string();      // a template
QFile x(QString("/tmp/.X%1-lock").arg(n));                                       // X's own
// Files of the test's own never go to /tmp: temp_directory_path() is shared.
const char* lock = "/tmp/ondaline-x.lock";  // machine-wide: the display start
const char* url = "rtmp://127.0.0.1/live/tmp/key";
CPP
cat >"$work/sample.sh" <<'SH'
out=/tmp/ondaline-out.txt
log=$TMPDIR/ondaline.log
dir=$(mktemp -d)
tmp=${TMPDIR:-/tmp}
TMPDIR=$dir command
# written below /tmp, once
mount -t tmpfs none /tmp/.X11-unix
SH

output=$("$source_dir/scripts/check-temp-paths" "$work" 2>&1) && fail "nothing was reported:
$output"
reported=$(grep -oE '^[^:]+:[0-9]+:' <<<"$output" | sed "s|^$work/||" | tr '\n' ' ')
expected="sample.sh:1: sample.sh:2: sample.sh:4: sample_test.cpp:1: sample_test.cpp:2: sample_test.cpp:4: "
expected+="sample_test.cpp:5: sample_test.cpp:6: sample_test.cpp:7: sample_test.cpp:8: "
[[ $reported == "$expected" ]] || fail "reported $reported
expected $expected
$output"
[[ $output == *"ondaline::test::runFolder()"* && $output == *QTemporaryDir* && $output == *"mktemp -d"* ]] ||
  fail "the message does not say what to use instead:
$output"

rm "$work/sample_test.cpp" "$work/sample.sh"
echo 'dir=$(mktemp -d)' >"$work/fine.sh"
"$source_dir/scripts/check-temp-paths" "$work" >/dev/null || fail "a name of the run's own was reported"
echo "ok: each fixed name reported, with what to use instead"
