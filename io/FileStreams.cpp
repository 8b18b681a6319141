#include <fcntl.h>

#include "io/FileInputStream.h"
#include "io/FileOutputStream.h"

FileInputStream::FileInputStream(const String& path) : file_(path, O_RDONLY) {}

FileOutputStream::FileOutputStream(const String& path)
    : file_(path, O_WRONLY | O_CREAT | O_TRUNC) {}
