// The server runs while it has live objects or LockServer locks. When the last one goes it
// stops offering its classes and leaves its message loop, as a real automation server does
// once its clients let go: nobody tells it to quit.
#pragma once

namespace standin {

void hold_server();
void release_server();

} // namespace standin
