// src/core/module_hooks.cpp - the module initializer and terminator of a kel shared library.
//
// Both do nothing: the libraries have no global state to set up or tear down, and every export may be called at
// any time after load. They exist so that each library registers exactly one of each.
#include "core/export_frame.h"

namespace {

__attribute__((constructor)) void n8_moduleInit() {}
__attribute__((destructor)) void n8_moduleTerm() {}

}  // namespace
