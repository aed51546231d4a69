#pragma once

namespace ondaline::platform {

// SIGHUP: the terminal the program was started from has closed. Installs
// `handler` for it, unless the program was started with it ignored, as
// `nohup` starts it: then it stays ignored, as the user asked.
void catchHangUp(void (*handler)(int));

}  // namespace ondaline::platform
