#include "server_lifetime.h"

#include "class_factory.h"

#include "host/WinApi.h"

namespace standin {
namespace {

// Touched only on the server's one apartment thread, where COM delivers every call.
long holds = 0;

} // namespace

void hold_server() {
    ++holds;
}

void release_server() {
    if (--holds == 0) {
        // Withdrawn at once, so that a client arriving now starts a new server instead of
        // reaching this one on its way out.
        revoke_classes();
        PostQuitMessage(0);
    }
}

} // namespace standin
