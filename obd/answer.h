#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tarvex::obd {

// How the adapter prints what the car says: the older buses (J1850 PWM and
// VPW, ISO 9141-2, ISO 14230-4) one message a line; CAN (ISO 15765-4) in
// frames, with 11-bit or 29-bit identifiers when headers are shown.
enum class Bus { kLegacy, kCan11, kCan29 };

struct Protocol {
  char number;  // as ATSP and ATDPN name it: '1'..'9', 'A'..'C'
  std::string_view name;
  Bus bus;
};

// The protocol the adapter uses, from its answer to ATDPN ("6", or "A6" when
// it found it by automatic search). Nothing for an answer it cannot be.
std::optional<Protocol> protocolFromDpn(const QString& answer);
// The same from the adapter's name for it (its answer to ATDP: "AUTO, ISO
// 15765-4 (CAN 11/500)", "SAE J1850 VPW"), for adapters that refuse ATDPN.
std::optional<Protocol> protocolFromDp(const QString& answer);
// What an answer printed with headers says of its bus, for an adapter that
// names its protocol in neither way: an 11-bit CAN identifier has three
// digits, a 29-bit one starts 18 DA; the older buses print three header
// bytes. Nothing when the lines tell nothing (headers off, no answer).
std::optional<Bus> busFromAnswer(const QStringList& lines);
// A protocol standing for a bus found that way; its name says it was guessed.
Protocol guessedProtocol(Bus bus);

// One complete answer of one controller.
struct Message {
  // The controller's address as printed ("7E8", "18DAF110", "10"); empty
  // when headers are off.
  QString source;
  // From the answer's service byte on: no header, length, frame number or
  // checksum.
  std::vector<std::uint8_t> data;
  // All of its frames arrived; a multi-frame answer cut short is kept with
  // what came, so a caller can see where it ends.
  bool complete = true;
};

struct Answer {
  std::vector<Message> messages;
  // Lines that carry no answer: "NO DATA", "CAN ERROR", "?", an echo ...
  QStringList notes;
};

// Reads the adapter's text for one request (lines ended by carriage returns,
// with or without spaces, the prompt and "SEARCHING..." allowed) into the
// messages of each controller that answered.
Answer parseAnswer(const QString& text, Bus bus, bool headers);

// The controller behind an address, for people: "engine (7E8)",
// "transmission (18DAF118)", or the address alone when its role is unknown.
// Engine and transmission are what most cars put at the first two addresses.
QString controllerName(const QString& source);

}  // namespace tarvex::obd
