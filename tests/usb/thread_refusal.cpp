// Test equipment preloaded into a program: while the file that HNX_REFUSE_THREADS_WHILE names exists,
// every new thread is refused with EAGAIN, as by a system that has run out of them.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  const char* flag = std::getenv("HNX_REFUSE_THREADS_WHILE");
  struct stat status {};
  if (flag != nullptr && stat(flag, &status) == 0) return EAGAIN;
  return create(thread, attributes, start, argument);
}
