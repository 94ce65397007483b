/* Symbol visibility of the cblob interface. */
#ifndef CBLOB_EXPORT_H
#define CBLOB_EXPORT_H

#if defined(_WIN32)
#  if defined(CBLOB_BUILDING_LIBRARY)
#    define CBLOB_API __declspec(dllexport)
#  else
#    define CBLOB_API
#  endif
#else
#  define CBLOB_API __attribute__((visibility("default")))
#endif

#endif /* CBLOB_EXPORT_H */
