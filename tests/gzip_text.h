// A whole text as one gzip stream, the way ppdedit writes one (zlib's
// default level, no file name, time stamp 0), and back. For the tests: any
// failure aborts.
#ifndef GZIP_TEXT_H
#define GZIP_TEXT_H

#include <cstdlib>
#include <string>
#include <zlib.h>

inline std::string Gzip(const std::string &text)
{
	z_stream z = {};
	if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
	    Z_OK)
		std::abort();
	std::string out(deflateBound(&z, text.size()), '\0');
	z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
	z.avail_in = static_cast<uInt>(text.size());
	z.next_out = reinterpret_cast<Bytef *>(out.data());
	z.avail_out = static_cast<uInt>(out.size());
	if (deflate(&z, Z_FINISH) != Z_STREAM_END)
		std::abort();
	out.resize(z.total_out);
	deflateEnd(&z);
	return out;
}

// The text of one gzip stream that fills packed exactly.
inline std::string Gunzip(const std::string &packed)
{
	z_stream z = {};
	if (inflateInit2(&z, 15 + 16) != Z_OK)
		std::abort();
	z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.data()));
	z.avail_in = static_cast<uInt>(packed.size());
	std::string out;
	char buf[65536];
	int rc;
	do {
		z.next_out = reinterpret_cast<Bytef *>(buf);
		z.avail_out = sizeof buf;
		rc = inflate(&z, Z_NO_FLUSH);
		if (rc != Z_OK && rc != Z_STREAM_END)
			std::abort();
		out.append(buf, sizeof buf - z.avail_out);
	} while (rc != Z_STREAM_END);
	if (z.avail_in != 0)
		std::abort();
	inflateEnd(&z);
	return out;
}

#endif
