// Where each frame's own files (PREFIX/PATH.tres, PREFIX/PATH.tscn) go: the
// frame's name made into a path that Godot, Windows, macOS and Linux all
// keep as written. The documents still carry the exact name; only the file
// names change.
#ifndef VELMORA_FORMATS_FRAME_FILES_H
#define VELMORA_FORMATS_FRAME_FILES_H

#include <string>

namespace Velmora::Formats {

// The relative path, without extension, of a frame's files, from its
// document name. Each '/'-separated part keeps its bytes except those that
// some system or Godot reads as syntax, which become '+' and two upper-case
// hex digits:
//  - '\' : * ? " < > | % + and control bytes (0x01-0x1F, 0x7F), anywhere;
//  - a '.' or ' ' that starts or ends a part (hidden files; Windows drops
//    trailing ones, Godot's editor refuses edge spaces);
//  - the first byte of a Windows device name (CON, PRN, AUX, NUL, CONIN$,
//    CONOUT$, COM0-9, LPT0-9, COM and LPT with a superscript digit), in any
//    case, alone or before a '.' (con.txt), trailing spaces ignored;
//  - the '.' before "tres" or "tscn" ending a folder part, in any case, so a
//    folder never has a frame file's name;
//  - a '/' that would leave a part empty (at either end, or doubled).
// Replacing each "+XX" by its byte gives the name back, so two names never
// share a path; the escapes are ASCII and always upper case, so two paths
// equal ignoring ASCII case come from names equal ignoring ASCII case. An
// empty name gives "+".
std::string FrameFilePath(const std::string& documentName);

}  // namespace Velmora::Formats

#endif  // VELMORA_FORMATS_FRAME_FILES_H
