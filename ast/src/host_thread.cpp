#include "ast/src/host_thread.h"

namespace tolvo::ast {
namespace {

// Constant-initialised and trivially destroyed, so no thread ever runs an initialiser for them.
constinit thread_local HostThread* t_host = nullptr;
constinit thread_local int t_entries_computing = 0;

}  // namespace

HostThread* current_host_thread() { return t_host; }

HostThread* host_thread_for_wait() { return t_entries_computing == 0 ? t_host : nullptr; }

HostThreadScope::HostThreadScope(HostThread* host) : previous_(t_host) { t_host = host; }

HostThreadScope::~HostThreadScope() { t_host = previous_; }

ComputingScope::ComputingScope() { ++t_entries_computing; }

ComputingScope::~ComputingScope() { --t_entries_computing; }

}  // namespace tolvo::ast
