// OpenSSL loaded at the first call of one of its functions, not at start: a command that never
// connects (`vexcomm user show`) would otherwise pay for mapping libssl and libcrypto and for
// libcrypto's thousands of symbol bindings (it is linked with BIND_NOW).
//
// Each function of functions.inc gets a stub of the same name, hidden in the program or library
// that links this file: it jumps through its slot of a table, and while the slot is empty it
// first binds it (opening libssl, and libcrypto with it, once). The stubs keep every argument
// register, so they stand in for any function without knowing its type. x86-64 only; elsewhere
// the build links OpenSSL directly.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>

namespace {

constexpr const char* kNames[] = {
#define VEXCOMM_OPENSSL(name) #name,
#include "platform/openssl_stubs/functions.inc"
#undef VEXCOMM_OPENSSL
};
constexpr unsigned kCount = std::size(kNames);

[[noreturn]] void Fatal(const char* what, const char* detail) {
  std::fprintf(stderr, "libvexcomm5: %s: %s\n", what, detail != nullptr ? detail : "?");
  std::abort();
}

void* Library() {
  static void* const handle = [] {
    void* h = ::dlopen(VEXCOMM_LIBSSL, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) Fatal(VEXCOMM_LIBSSL, ::dlerror());
    return h;
  }();
  return handle;
}

// Asio's global clean-up at exit: with OpenSSL never loaded there is no configuration to unload,
// and loading it for that would undo the saving.
void UnloadNothing(int) {}

bool IsLoaded() {
  void* h = ::dlopen(VEXCOMM_LIBSSL, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (h != nullptr) ::dlclose(h);
  return h != nullptr;
}

}  // namespace

extern "C" {

// Read by the stubs without a lock: a slot goes from empty to its function once (an aligned
// pointer store), and a thread that still sees it empty binds it again to the same value.
[[gnu::used]] void* vexcomm_openssl_table[kCount] = {};

[[gnu::used]] void* vexcomm_openssl_resolve(unsigned index) {
  const char* name = kNames[index];
  if (std::string_view(name) == "CONF_modules_unload" && !IsLoaded()) {
    return reinterpret_cast<void*>(&UnloadNothing);
  }
  // The version a link against OpenSSL 3 would have bound.
  void* function = ::dlvsym(Library(), name, "OPENSSL_3.0.0");
  if (function == nullptr) function = ::dlsym(Library(), name);
  if (function == nullptr) Fatal(name, ::dlerror());
  __atomic_store_n(&vexcomm_openssl_table[index], function, __ATOMIC_RELEASE);
  return function;
}

}  // extern "C"

// The stub of a function: the slot's function, or first the binder with the slot's number in
// r11 (free in the calling convention: no argument travels in it).
asm(R"(
  .pushsection .text
  .set vexcomm_openssl_index, 0
  .macro vexcomm_openssl_stub name
    .globl \name
    .hidden \name
    .type \name, @function
    .p2align 4
  \name:
    movq vexcomm_openssl_table+8*vexcomm_openssl_index(%rip), %r11
    testq %r11, %r11
    jz 1f
    jmpq *%r11
  1:
    movl $vexcomm_openssl_index, %r11d
    jmp vexcomm_openssl_bind
    .size \name, .-\name
    .set vexcomm_openssl_index, vexcomm_openssl_index + 1
  .endm

  # Keeps the argument registers (and al, the vector count of a variadic call) across the call
  # of the resolver, then enters the function as the caller would have.
  .p2align 4
  .type vexcomm_openssl_bind, @function
  vexcomm_openssl_bind:
    pushq %rbp
    movq %rsp, %rbp
    pushq %rdi
    pushq %rsi
    pushq %rdx
    pushq %rcx
    pushq %r8
    pushq %r9
    pushq %rax
    pushq %r10
    subq $128, %rsp
    movdqu %xmm0, 0(%rsp)
    movdqu %xmm1, 16(%rsp)
    movdqu %xmm2, 32(%rsp)
    movdqu %xmm3, 48(%rsp)
    movdqu %xmm4, 64(%rsp)
    movdqu %xmm5, 80(%rsp)
    movdqu %xmm6, 96(%rsp)
    movdqu %xmm7, 112(%rsp)
    movl %r11d, %edi
    call vexcomm_openssl_resolve
    movq %rax, %r11
    movdqu 0(%rsp), %xmm0
    movdqu 16(%rsp), %xmm1
    movdqu 32(%rsp), %xmm2
    movdqu 48(%rsp), %xmm3
    movdqu 64(%rsp), %xmm4
    movdqu 80(%rsp), %xmm5
    movdqu 96(%rsp), %xmm6
    movdqu 112(%rsp), %xmm7
    addq $128, %rsp
    popq %r10
    popq %rax
    popq %r9
    popq %r8
    popq %rcx
    popq %rdx
    popq %rsi
    popq %rdi
    popq %rbp
    jmpq *%r11
  .size vexcomm_openssl_bind, .-vexcomm_openssl_bind
  .popsection
)");

#define VEXCOMM_OPENSSL(name) \
  asm(".pushsection .text\n vexcomm_openssl_stub " #name "\n .popsection");
#include "platform/openssl_stubs/functions.inc"
#undef VEXCOMM_OPENSSL
