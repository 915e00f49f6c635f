// What every decode of untrusted bytes must satisfy, shared by the fuzz
// targets: either an image whose every byte can be read, or a
// GFXStream::Exception carrying one of the reader's own texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/Image.h"

using namespace Codec;

// Decodes `size` bytes with ReadTGA, through a callback that reads every row
// it is shown. Aborts when a property fails; answers null when the reader
// refused the input with a proper message.
std::unique_ptr<Image> DecodeChecked(const std::uint8_t* data, std::size_t size);

// Reads every pixel and palette byte, so that the sanitizers see any buffer
// that is smaller than the image claims, or not initialised.
std::uint32_t TouchImage(const Image& image);
