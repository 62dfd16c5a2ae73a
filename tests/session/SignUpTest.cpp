// What a failed sign-up tells the user.
#include "session/SignUp.h"

#include <gtest/gtest.h>

using namespace lf;

namespace {

APIResult refused(int status, const QByteArray &body) {
    return APIResult::httpFailure(status, body);
}

} // namespace

TEST(SignUpTest, FieldProblemsBecomeOneSentenceAndATakenAddressItsOwnMessage) {
    EXPECT_EQ(
        registrationErrorText(refused(422,
            R"j([["password","is too short (minimum is 4 characters)"],["password_confirmation","doesn't match password"]])j")),
        "The password is too short (minimum is 4 characters), and the password confirmation doesn't match "
        "password.");
    // A field the table does not name is still readable.
    EXPECT_EQ(registrationErrorText(refused(422, R"j([["nick_name","is odd"]])j")), "The nick name is odd.");
    // Whatever else is wrong, a taken address says so alone.
    EXPECT_EQ(registrationErrorText(refused(
                  422, R"j([["password","is too short"],["REQUEST_ADDRESS","has already been taken"]])j")),
        "An account with this e-mail address already exists; sign in instead");
}

TEST(SignUpTest, OtherFailuresShowTheServersTextOrTheReason) {
    EXPECT_EQ(
        registrationErrorText(refused(500, R"j({"Error":"Sign-ups are closed"})j")), "Sign-ups are closed");
    EXPECT_EQ(registrationErrorText(refused(503, "")), "Service Unavailable");
    // A 422 whose body is not the list of pairs is shown as it came.
    EXPECT_EQ(registrationErrorText(refused(422, R"j({"Error":"bad request"})j")), "bad request");
    EXPECT_EQ(registrationErrorText(APIResult::networkFailure(-1009, "offline")), "offline");
}

TEST(SignUpTest, FieldsCarryTheConfirmationAndTheAcceptedTerms) {
    const QVariantMap user = registrationFields("a@b.org", "Ann", "Lee", "secret").value("user").toMap();
    EXPECT_EQ(user.value("request_address"), "a@b.org");
    EXPECT_EQ(user.value("password_confirmation"), "secret");
    EXPECT_EQ(user.value("tos_accepted").toInt(), 1);
}
