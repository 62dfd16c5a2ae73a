// What one keystroke in the address field costs in completion: the address book matched over a
// server address book of 5,000 contacts and 50 groups, for texts a user types on the way to a
// name or an address.
#include "contacts/AddressBookUtil.h"
#include "foundation/NotificationCenter.h"

#include <QCoreApplication>
#include <QVariantList>

#include <benchmark/benchmark.h>

namespace {

const QStringList kFirst {"Ann", "Bob", "Carla", "Dmitri", "Elena", "Farah", "George", "Hana", "Ivan",
    "Julia", "Kofi", "Lena", "Marco", "Nina", "Omar", "Pia", "Quentin", "Rosa", "Sven", "Tara"};
const QStringList kLast {"Friend", "Mendes", "Volkov", "Rossi", "Haddad", "Okafor", "Sato", "Petrov", "Weber",
    "Mensah", "Novak", "Silva", "Berg", "Costa", "Lind", "Moreau", "Kowalski", "Ito", "Dubois", "Meyer"};

QVariantList bigAddressBook() {
    QVariantList list;
    for (int i = 0; i < 5000; ++i) {
        const QString first = kFirst.at(i % kFirst.size());
        const QString last = kLast.at((i / kFirst.size()) % kLast.size());
        list.append(QVariantMap {{"guid", QStringLiteral("g%1").arg(i)},
            {"name", QStringLiteral("%1 %2 %3").arg(first, last).arg(i)},
            {"email", QStringLiteral("%1.%2%3@example.org").arg(first.toLower(), last.toLower()).arg(i)},
            {"last_used", double(i)}});
    }
    for (int g = 0; g < 50; ++g)
        list.append(QVariantMap {{"guid", QStringLiteral("G%1").arg(g)},
            {"name", QStringLiteral("Team %1").arg(g)}, {"members", QStringLiteral("Ann Friend, Bob Mendes")},
            {"entries", QStringList {"g1", "g2"}}, {"GROUP", true}, {"last_used", 0.0}});
    return list;
}

void BM_KeystrokeCompletion(benchmark::State &state) {
    static const QVariantList contacts = bigAddressBook();
    lf::AddressBookUtil::Sources sources;
    sources.contacts = [] { return contacts; };
    sources.addressBook = std::make_shared<lf::PeopleAddressBook>();
    lf::AddressBookUtil book(sources);
    const QStringList typed {"a", "an", "ann", "ann f", "ann.fr", "elena.rossi12", "team 4", "zz"};
    const QString text = typed.at(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(book.autoFillAddress(text, true, {}));
        // The notification each run posts for the main thread is delivered, as the window would.
        state.PauseTiming();
        QCoreApplication::sendPostedEvents();
        state.ResumeTiming();
    }
    state.SetLabel(text.toStdString());
}
BENCHMARK(BM_KeystrokeCompletion)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
