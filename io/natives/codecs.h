// The natives over the codecs of io/codecs: checksum, compress and decompress (entries in io/natives.h).
#pragma once

namespace zol::io {

// Start-up: the method words the three natives recognise.
void codec_words_init();

}  // namespace zol::io
