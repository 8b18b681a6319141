// readLine() reads the next line of a small text file from a stream, one
// byte per read(), so the stream should be a buffered one.
//
//   while (true) {
//     String line = readLine(buffered);
//     if (line.isEmpty()) break;  // the input is exhausted
//     ...
//   }
#ifndef VANTOREL_IO_LINEREADER_H
#define VANTOREL_IO_LINEREADER_H

#include "io/InputStream.h"
#include "lang/String.h"

// The bytes up to and including the next line feed (0x0A); a carriage return
// stays an ordinary byte. Stops without storing at the end of input or at the
// byte 0x1A, the end-of-file mark of old text files, which is consumed. The
// empty String means the input is exhausted (or stood at a 0x1A).
String readLine(InputStream& in);

#endif  // VANTOREL_IO_LINEREADER_H
