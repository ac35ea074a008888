#pragma once

#ifndef _WIN32
#include <csignal>
#endif

// An interrupted run must not leave a temporary file behind. The temporary
// files being written are listed here, where the handler of an interrupt
// (Ctrl-C, Ctrl-\, a closed terminal, kill) can find them: it removes them
// and ends the process as the interrupt would have.

/// Installs the handler, once: interrupts then remove the temporary files
/// listed before they end the process, and a closed console pipe or a
/// file-size limit fail the write instead of ending it.
void prepare_for_interrupts();

/// Names the texture being worked on, for the one line an interrupt writes
/// on standard error before it ends the process: that the texture is left
/// as it was, or, once its files are put in place, that it was replaced whole.
void note_interrupted_texture(const char* name);

/// Says that the texture's new files are all in place.
void note_texture_replaced();

/// Lists a temporary file being written (its descriptor too, which Windows
/// must close before it can delete the file); false when the list is full.
/// Only with interrupts held off.
bool add_pending(const char* name, int fd);

/// Takes a temporary file off the list. Only with interrupts held off.
void remove_pending(const char* name);

/// Holds interrupts off while it lives, so that the handler never sees a
/// name half made or a file already renamed, and a set being put in place
/// is never stopped half-way.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
#ifndef _WIN32
  sigset_t previous_{};
#endif
};
