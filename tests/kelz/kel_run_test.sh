#!/usr/bin/env bash
# kel_run_test.sh KEL - `kel run`: both libraries go first in LD_PRELOAD (an existing value stays after them), the
# program's exit status passes through, and a missing program gives 127 as env(1) does.
source "$(dirname "$0")/../support/tool_test_lib.sh"
kel=$1
enter_scratch_dir

preload=$("$kel" run --print) || err "kel run --print failed"
[[ $preload == */kel/libz.so.1:*/kel/libbz2.so.1.0 ]] || err "unexpected preload list: $preload"
for lib in ${preload//:/ }; do [ -r "$lib" ] || err "$lib does not exist"; done

seen=$(LD_PRELOAD=/nonexistent/other.so "$kel" run -- sh -c 'echo "$LD_PRELOAD"' 2>/dev/null)
[ "$seen" = "$preload:/nonexistent/other.so" ] || err "the caller's LD_PRELOAD is not kept after ours: $seen"

"$kel" run -- sh -c 'exit 3'; [ $? -eq 3 ] || err "the program's exit status is not passed through"
"$kel" run no-such-program-anywhere 2>msg; [ $? -eq 127 ] || err "a missing program does not give 127"
grep -q "no-such-program-anywhere" msg || err "a missing program is not named: $(cat msg)"
"$kel" run 2>/dev/null; [ $? -eq 2 ] || err "kel run without a command is not a usage error"
exit $fail
