// Diagnostic lines of the platform layer: things dropped or refused that nobody asked about,
// such as a malformed datagram at an endpoint.
//
// The platform writes nowhere itself. The program installs a sink (its trace channel); without
// one the lines are discarded.
#pragma once

namespace platform {

using DiagnosticSink = void (*)(const char* line);

// Replaces the sink (null discards). Thread-safe; may be called during static initialisation.
void SetDiagnosticSink(DiagnosticSink sink);

// Formats one line and hands it to the sink on the calling thread. Thread-safe.
void Diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
