// Reading requests: the parser's codes, white space and queries, and the bytes that follow one
// request on the same connection. The connection is a socket pair, written by the test.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "web/request.h"

namespace {

// The server's end as a StreamSocket, and the client's end as a plain descriptor.
struct Pair {
    StreamSocket server;
    int client = -1;
    Pair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            server.m_fd = fds[0];
            client = fds[1];
        }
    }
    ~Pair() {
        server.stop();
        if (client >= 0) close(client);
    }
    void write(const std::string& bytes) const {
        ASSERT_EQ(::write(client, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void endWriting() const { shutdown(client, SHUT_WR); }
};

struct Request {
    int code;
    std::string path;
    std::string query;
};

Request readFrom(Pair& pair, char* buffer, int size, RequestCarry* carry) {
    char* path = nullptr;
    char* query = nullptr;
    int code = getRequestedFile(&pair.server, &path, &query, buffer, size, carry);
    return {code, path, query};
}

// One request sent whole, then the writing side closed so that nothing can wait.
Request parse(const std::string& bytes) {
    Pair pair;
    pair.write(bytes);
    pair.endWriting();
    char buffer[REQUEST_BUFFER_SIZE];
    return readFrom(pair, buffer, sizeof(buffer), nullptr);
}

}  // namespace

TEST(WebRequest, RootWithAndWithoutAQueryGivesPathAndQuery) {
    Request plain = parse("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(plain.code, REQUEST_OK);
    EXPECT_EQ(plain.path, "/");
    EXPECT_EQ(plain.query, "");
    Request demo = parse("GET /?x.kdem HTTP/1.1\r\n\r\n");
    EXPECT_EQ(demo.code, REQUEST_OK);
    EXPECT_EQ(demo.path, "/");
    EXPECT_EQ(demo.query, "x.kdem");
}

TEST(WebRequest, ALineFeedEndsThePathAndBareLineFeedsEndTheRequest) {
    Request r = parse("GET /x\n\n");
    EXPECT_EQ(r.code, REQUEST_OK);
    EXPECT_EQ(r.path, "/x");
}

TEST(WebRequest, WhiteSpaceBeforeThePathIsSkippedAndALaterQuestionMarkRestartsTheQuery) {
    Request spaced = parse("GET \t  /a/b_c-d.html HTTP/1.1\n\n");
    EXPECT_EQ(spaced.path, "/a/b_c-d.html");
    Request twice = parse("GET /p?one?two HTTP/1.1\n\n");
    EXPECT_EQ(twice.code, REQUEST_OK);
    EXPECT_EQ(twice.path, "/p");
    EXPECT_EQ(twice.query, "two");
    Request bare = parse("GET ?x HTTP/1.1\n\n");
    EXPECT_EQ(bare.code, REQUEST_OK);
    EXPECT_EQ(bare.path, "");  // answered as missing: it does not start with '/'
    EXPECT_EQ(bare.query, "x");
}

TEST(WebRequest, RefusedRequestsGiveTheirCodesAndEmptyOutputs) {
    struct Case {
        const char* request;
        int code;
    } cases[] = {
        {"GET /../config.ini HTTP/1.1\r\n\r\n", REQUEST_DOTS},
        {"GET /?a..b HTTP/1.1\r\n\r\n", REQUEST_DOTS},
        {"GET /a%20b HTTP/1.1\r\n\r\n", REQUEST_BAD_CHAR},
        {"GET /a+b HTTP/1.1\r\n\r\n", REQUEST_BAD_CHAR},
        {"GET /?a=b&c=d HTTP/1.1\r\n\r\n", REQUEST_BAD_CHAR},
        {"GET /caf\xc3\xa9 HTTP/1.1\r\n\r\n", REQUEST_BAD_CHAR},
        {"POST / HTTP/1.1\r\n\r\n", REQUEST_NOT_GET},
        {"HEAD / HTTP/1.1\r\n\r\n", REQUEST_NOT_GET},
        {"get / HTTP/1.1\r\n\r\n", REQUEST_NOT_GET},
        {"GET      \n\n", REQUEST_UNENDED},
    };
    for (const Case& c : cases) {
        Request r = parse(c.request);
        EXPECT_EQ(r.code, c.code) << c.request;
        EXPECT_EQ(r.path, "") << c.request;
        EXPECT_EQ(r.query, "") << c.request;
    }
}

TEST(WebRequest, DotsSeparatedByAQuestionMarkAreNotTwoInARow) {
    Request r = parse("GET /a.?.b HTTP/1.1\n\n");
    EXPECT_EQ(r.code, REQUEST_OK);
    EXPECT_EQ(r.query, ".b");
}

TEST(WebRequest, APathThatFillsTheBufferWithoutEndingIsUnended) {
    EXPECT_EQ(parse("GET /" + std::string(REQUEST_BUFFER_SIZE, 'a')).code, REQUEST_UNENDED);
}

TEST(WebRequest, FewerThanFiveBytesInTheWholeBufferIsShort) {
    Pair pair;
    pair.write("GET /\n\n");
    char buffer[4];
    EXPECT_EQ(readFrom(pair, buffer, sizeof(buffer), nullptr).code, REQUEST_SHORT);
    char* path;
    char* query;
    char tiny[8] = "GET";
    EXPECT_EQ(parseRequest(tiny, 3, &path, &query), REQUEST_SHORT);
}

TEST(WebRequest, APeerThatClosesBeforeTheEndOfTheHeaderFailsTheRead) {
    EXPECT_EQ(parse("GET /index.html HTTP/1.1\r\n").code, REQUEST_READ_FAILED);
    EXPECT_EQ(parse("").code, REQUEST_READ_FAILED);
    // Two line feeds within the first five bytes are not yet the end of a request.
    EXPECT_EQ(parse("\n\nGE").code, REQUEST_READ_FAILED);
}

TEST(WebRequest, TheEndIsTheFirstTerminatorAtOrBeyondFiveBytes) {
    EXPECT_EQ(findRequestEnd("\n\nGET /\n\n", 9), 9);
    EXPECT_EQ(findRequestEnd("GET /\r\n\r\nGET", 12), 9);
    EXPECT_EQ(findRequestEnd("GET /\r\n\nX", 9), 8);
    EXPECT_EQ(findRequestEnd("GET /\r\n", 7), 0);
}

TEST(WebRequest, TwoRequestsInOneWriteAreReadOneAfterTheOther) {
    Pair pair;
    pair.write("GET /a.html HTTP/1.1\r\nHost: x\r\n\r\nGET /b.gif?q HTTP/1.1\r\n\r\n");
    pair.endWriting();
    char buffer[REQUEST_BUFFER_SIZE];
    RequestCarry carry;
    Request first = readFrom(pair, buffer, sizeof(buffer), &carry);
    EXPECT_EQ(first.code, REQUEST_OK);
    EXPECT_EQ(first.path, "/a.html");
    Request second = readFrom(pair, buffer, sizeof(buffer), &carry);
    EXPECT_EQ(second.code, REQUEST_OK);
    EXPECT_EQ(second.path, "/b.gif");
    EXPECT_EQ(second.query, "q");
    EXPECT_EQ(readFrom(pair, buffer, sizeof(buffer), &carry).code, REQUEST_READ_FAILED);
}

TEST(WebRequest, ACarriedPartialRequestIsCompletedByTheNextRead) {
    Pair pair;
    pair.write("GET /a HTTP/1.1\n\nGET /b HT");
    char buffer[REQUEST_BUFFER_SIZE];
    RequestCarry carry;
    EXPECT_EQ(readFrom(pair, buffer, sizeof(buffer), &carry).path, "/a");
    pair.write("TP/1.1\n\n");
    Request second = readFrom(pair, buffer, sizeof(buffer), &carry);
    EXPECT_EQ(second.code, REQUEST_OK);
    EXPECT_EQ(second.path, "/b");
}

TEST(WebRequest, AnOversizedRequestIsParsedFromItsStartAndItsRestFailsAsTheNextRequest) {
    Pair pair;
    std::string request = "GET /big HTTP/1.1\r\nX-Pad: " + std::string(2000, 'p') + "\r\n\r\n";
    pair.write(request);
    pair.endWriting();
    char buffer[REQUEST_BUFFER_SIZE];
    RequestCarry carry;
    Request first = readFrom(pair, buffer, sizeof(buffer), &carry);
    EXPECT_EQ(first.code, REQUEST_OK);
    EXPECT_EQ(first.path, "/big");
    EXPECT_EQ(carry.m_length, 0);
    EXPECT_EQ(readFrom(pair, buffer, sizeof(buffer), &carry).code, REQUEST_NOT_GET);
}

namespace {

// The If-Modified-Since value of one request sent whole; "(refused)" when it is not read.
std::string modifiedSince(const std::string& bytes) {
    Pair pair;
    pair.write(bytes);
    pair.endWriting();
    char buffer[REQUEST_BUFFER_SIZE];
    char* path = nullptr;
    char* query = nullptr;
    char* since = nullptr;
    int code = getRequestedFile(&pair.server, &path, &query, buffer, sizeof(buffer), nullptr,
                                &since);
    return code == REQUEST_OK ? std::string(since) : "(refused)";
}

}  // namespace

TEST(WebRequest, IfModifiedSinceIsReadInAnyCaseAndWithEitherLineEnd) {
    const std::string date = "Fri, 02 Jan 2026 03:04:05 GMT";
    EXPECT_EQ(modifiedSince("GET /a.gif HTTP/1.1\r\nHost: x\r\nIf-Modified-Since: " + date +
                            "\r\n\r\n"), date);
    EXPECT_EQ(modifiedSince("GET /a.gif HTTP/1.1\nif-modified-since:\t" + date + "  \n\n"), date);
    EXPECT_EQ(modifiedSince("GET /a.gif?q HTTP/1.1\r\nIF-MODIFIED-SINCE:" + date + "\r\n"
                            "If-Modified-Since: later\r\n\r\n"), date);  // the first one
    EXPECT_EQ(modifiedSince("GET /a.gif\nIf-Modified-Since: " + date + "\n\n"), date);
    EXPECT_EQ(modifiedSince("GET /a.gif HTTP/1.1\r\nHost: x\r\n\r\n"), "");
    // Only the header lines: not a name inside another line, nor one after the request's end.
    EXPECT_EQ(modifiedSince("GET /a.gif HTTP/1.1\r\nX-If-Modified-Since: " + date + "\r\n\r\n"), "");
    EXPECT_EQ(modifiedSince("GET /a.gif HTTP/1.1\r\n\r\nIf-Modified-Since: " + date + "\r\n\r\n"), "");
    EXPECT_EQ(modifiedSince("GET /a.gif HTTP/1.1\r\nIf-Modified-Since: \r\n\r\n"), "");
}

TEST(WebRequest, AnIfModifiedSinceLineCutOffByTheBufferIsNotRead) {
    std::string head = "GET /a.gif HTTP/1.1\r\nX-Pad: " + std::string(REQUEST_BUFFER_SIZE - 60, 'p') +
                       "\r\nIf-Modified-Since: Fri, 02 Jan 2026 03:04:05 GMT\r\n\r\n";
    EXPECT_EQ(modifiedSince(head), "");
    char line[] = "GET / HTTP/1.1\r\nIf-Modified-Since: x";  // no line end
    EXPECT_STREQ(findModifiedSince(line, int(sizeof(line) - 1), line + 6), "");
}
