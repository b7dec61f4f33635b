// SHA-256 against the FIPS 180 examples, across block boundaries and pieces, and on a file.

#include "batch/sha256.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

using sitewave::batch::digest_file;
using sitewave::batch::sha256;
using sitewave::batch::sha256_hex;

TEST(sha256, fips_180_examples) {
    const struct {
        std::string message, digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sha256_hex(c.message), c.digest) << c.message.size() << " bytes";
    }
}

TEST(sha256, pieces_of_any_size_give_the_same_digest) {
    // Lengths around the padding's limits (55, 56, 63, 64 bytes) and the message in pieces.
    std::string m;
    for (int i = 0; i < 300; ++i) {
        m += static_cast<char>((i * 37 + 11) & 0xff);
    }
    for (const std::size_t len : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
        const std::string part = m.substr(0, len);
        const std::string whole = sha256_hex(part);
        for (const std::size_t piece : {1u, 3u, 63u, 64u, 65u}) {
            sha256 h;
            for (std::size_t at = 0; at < part.size(); at += piece) {
                h.update(std::string_view(part).substr(at, piece));
            }
            EXPECT_EQ(sitewave::batch::hex(h.finish()), whole) << len << " in " << piece;
        }
    }
}

TEST(sha256, a_file_against_pythons_hashlib) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("sitewave-sha-" + std::to_string(::getpid()) + ".bin");
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 200000; ++i) {
            out.put(static_cast<char>((i * 7919) % 251));
        }
    }
    const auto d = digest_file(path.string());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->size, 200000u);
    // hashlib.sha256(bytes((i * 7919) % 251 for i in range(200000))).hexdigest()
    EXPECT_EQ(d->sha256, "be1ad3d7d0aff835a660d0f82c22cda95a29803f8a24465b7b3f0aab052f369a");
    std::filesystem::remove(path);
    EXPECT_FALSE(digest_file(path.string()));
}

} // namespace
