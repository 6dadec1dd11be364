// The dispatch table of the voice protocol: which handler runs for which
// packet a client sends, under which name its failures are logged, and
// whether it needs a logged-in sender. Every handler runs inside one
// exception boundary that logs "<name> Exception: <message>" and lets the
// event end normally.
//
// Adding a client command: write `void CMD_cs_Something(HandlerContext&)` in
// the file of its family (login.cpp, voice_relay.cpp, text_and_info.cpp, ...),
// declare it in that family's header, and add one row to kCommands in
// dispatch.cpp: {type, "CMD_cs_Something", CMD_cs_Something, needs_sender}.
// With needs_sender true a command from a connection without a logged-in
// player is discarded unanswered before the handler runs.
//
// Called on the listener thread only, with both list locks held.
#pragma once

#include <cstdint>
#include <span>

#include "protocol/handler_context.h"

namespace voxhall::protocol {

using Handler = void (*)(HandlerContext&);

struct CommandEntry {
  std::uint16_t type;  // the command packet's PacketType
  const char* name;    // the handler's name as the log shows it
  Handler handler;
  bool needs_sender;
};

// The command packets clients may send, by command type.
std::span<const CommandEntry> CommandTable();
// The row of a command type, or null for a type nobody handles.
const CommandEntry* FindCommand(std::uint16_t type);

// Runs the handler for ctx.packet: a voice packet goes to the voice relay, a
// connection packet of type 3 to the login request, a command packet to its
// row of the table. Anything else, and a command without a row, is ignored
// without an answer or a log line.
void Dispatch(HandlerContext& ctx);

// Runs one row's handler inside the exception boundary, unless it needs a
// sender and there is none.
void RunHandler(HandlerContext& ctx, const CommandEntry& entry);

}  // namespace voxhall::protocol
