#pragma once

// Marks a declaration as part of the shared object's public interface. Everything else is
// built with hidden visibility and stays internal to the library.
#define TAMSU_EXPORT __attribute__((visibility("default")))
