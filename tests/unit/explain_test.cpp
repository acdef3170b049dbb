// What the connection test's log adds to a failure: one line of advice on a
// line of its own, and a TLS status by its name.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/text.h"
#include "pop3/failure_hint.h"
#include "pop3/session.h"
#include "pop3/tls_status.h"
#include "tests/fakes/fakes.h"

namespace
{

struct HintRow {
    const char* name;
    int error_kind;
    const char* failure;
    bool logged; // by set_error_text, without a line end, as the failure's maker does
    std::string log;
};

const std::string LOGIN_ADVICE =
    "対処: ユーザー名とパスワード（アプリ パスワードが要るか）を確かめてください。\r\n";

// clang-format off
const HintRow HINT_ROWS[] = {
    {"time_out", ERROR_FAILED, "タイムアウト発生", true,
     "タイムアウト発生\r\n対処: 暗号化の選択がサーバーのポートと合っているか確かめてください。\r\n"},
    {"two_failures_one_advice", ERROR_FAILED, "ｿｹｯﾄｲﾍﾞﾝﾄ通知ｴﾗｰ", true,
     "ｿｹｯﾄｲﾍﾞﾝﾄ通知ｴﾗｰ\r\n対処: corvina を起動し直すか、Windows を再起動してください。\r\n"},
    // The receiver logged the server's line whole; a cut one has lost its CR LF.
    {"server_reply", ERROR_FAILED, "-ERR [AUTH] Authentication failed.\r\n", false, LOGIN_ADVICE},
    {"server_reply_cut_at_63_bytes", ERROR_FAILED,
     "-ERR 0123456789012345678901234567890123456789012345678901234567", false, LOGIN_ADVICE},
    // Never logged: the advice starts where the log stands.
    {"overflow", ERROR_FAILED, "受信バッファオーバーフロー", false,
     "対処: サーバー名とポートが POP3 のものか確かめてください。\r\n"},
    {"aborted_by_the_user", ERROR_ABORTED, "処理を中止しました", true, "処理を中止しました"},
    {"success", ERROR_NONE, "", false, ""},
};
// clang-format on

void PrintTo(const HintRow& row, std::ostream* out)
{
    *out << row.name;
}

class Hint : public testing::TestWithParam<HintRow>
{
};

TEST_P(Hint, AdviceOnALineOfItsOwn)
{
    const HintRow& row = GetParam();
    fakes_reset();
    if (row.logged)
        set_error_text(row.failure);
    else
        text_copy(session.error_text, sizeof session.error_text, row.failure);
    session.error_kind = row.error_kind;
    hint_log();
    EXPECT_EQ(row.log, fake.log);
}

INSTANTIATE_TEST_SUITE_P(Rows, Hint, testing::ValuesIn(HINT_ROWS),
                         [](const testing::TestParamInfo<HintRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(TlsStatus, NamedAndInHexadecimal)
{
    const struct {
        uint32_t status;
        const char* text;
    } rows[] = {
        {0x80090326, "SEC_E_ILLEGAL_MESSAGE 0x80090326"},
        {0x80090304, "SEC_E_INTERNAL_ERROR 0x80090304"},
        {0x00090321, "SEC_I_RENEGOTIATE 0x00090321"},
        {0x800B010F, "CERT_E_CN_NO_MATCH 0x800B010F"},
        {0x80090327, "SEC_E_CERT_UNKNOWN 0x80090327"},
        {0x8009032F, "0x8009032F"}, // no name: the number alone
    };
    for (const auto& row : rows) {
        char text[64];
        tls_status_text(row.status, text, sizeof text);
        EXPECT_STREQ(row.text, text);
    }
}

} // namespace
