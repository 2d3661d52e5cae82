// The launcher hand-over: whether a game client may redirect, as a companion
// launcher said through the registry.
#pragma once
#include <atomic>
#include <cstdint>

namespace core {

// 1 redirection allowed, 0 not allowed.
int launcher_handshake();

// Written by the name hook with each verdict, read by the connect and send
// paths; starts at 1.
extern std::atomic<int32_t> launcher_verdict;

}  // namespace core
