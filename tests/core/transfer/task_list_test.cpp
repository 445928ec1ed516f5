#include "transfer/task_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/my_exception.h"

namespace {

class Named : public SingleAction {
  public:
    using SingleAction::SingleAction;
    void Run() override {}
};

TransferPtr T(const std::string& name) {
    return std::make_shared<Named>(name);
}

std::vector<std::string> Names(const TaskList::List& l) {
    std::vector<std::string> out;
    for (const TransferPtr& t : l) out.push_back(t->GetName());
    return out;
}

using NameList = std::vector<std::string>;

TEST(TaskList, MergePutsFrontAddsNewestFirstBeforeTheQueueAndBackAddsOldestFirstAfterIt) {
    TaskList tl;
    tl.PushBack(T("X"));
    tl.PushBack(T("Y"));
    tl.AddFront(T("A"));
    tl.AddFront(T("B"));
    tl.AddBack(T("C"));
    tl.AddBack(T("D"));
    EXPECT_EQ(Names(tl.FrontAdds()), (NameList{"B", "A"}));
    EXPECT_EQ(Names(tl.BackAdds()), (NameList{"C", "D"}));

    tl.Merge();
    EXPECT_EQ(Names(tl.Queue()), (NameList{"B", "A", "X", "Y", "C", "D"}));
    EXPECT_TRUE(tl.FrontAdds().empty());
    EXPECT_TRUE(tl.BackAdds().empty());
    EXPECT_EQ(tl.Front()->GetName(), "B");
}

TEST(TaskList, MergeIntoAnEmptyQueue) {
    TaskList tl;
    tl.Merge();
    EXPECT_TRUE(tl.Empty());
    EXPECT_EQ(tl.Front(), nullptr);
    tl.AddBack(T("C"));
    tl.AddFront(T("A"));
    tl.Merge();
    EXPECT_EQ(Names(tl.Queue()), (NameList{"A", "C"}));
}

TEST(TaskList, PopAndPushMoveTheFirstToTheEnd) {
    TaskList tl;
    tl.PushBack(T("A"));
    tl.PushBack(T("B"));
    TransferPtr a = tl.Front();
    tl.PushBack(a);
    tl.PopFront();
    EXPECT_EQ(Names(tl.Queue()), (NameList{"B", "A"}));
    tl.PopFront();
    tl.PopFront();
    EXPECT_TRUE(tl.Empty());
    tl.PopFront();  // on an empty queue: nothing to take
    EXPECT_TRUE(tl.Empty());
}

TEST(TaskList, EmptyLooksAtAllThreeListsAndClearEmptiesThem) {
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        TaskList tl;
        if (which == 0) tl.PushBack(T("q"));
        if (which == 1) tl.AddFront(T("f"));
        if (which == 2) tl.AddBack(T("b"));
        EXPECT_FALSE(tl.Empty());
        tl.Clear();
        EXPECT_TRUE(tl.Empty());
    }
}

TEST(TaskList, RemoveIfFiltersAllThreeListsKeepingOrder) {
    TaskList tl;
    for (const char* n : {"init", "q1", "init", "q2"}) tl.PushBack(T(n));
    for (const char* n : {"f1", "init", "f2"}) tl.AddBack(T(n));  // used as a plain list here
    tl.AddFront(T("g1"));
    tl.AddFront(T("init"));
    const size_t removed = tl.RemoveIf([](const TransferPtr& t) { return t->GetName() == "init"; });
    EXPECT_EQ(removed, 4u);
    EXPECT_EQ(Names(tl.Queue()), (NameList{"q1", "q2"}));
    EXPECT_EQ(Names(tl.FrontAdds()), (NameList{"g1"}));
    EXPECT_EQ(Names(tl.BackAdds()), (NameList{"f1", "f2"}));
}

TEST(TaskList, RefusesNullTransfers) {
    TaskList tl;
    EXPECT_THROW(tl.AddBack(nullptr), MyExceptionPtr);
    EXPECT_THROW(tl.AddFront(nullptr), MyExceptionPtr);
    EXPECT_THROW(tl.PushBack(nullptr), MyExceptionPtr);
    EXPECT_TRUE(tl.Empty());
}

TEST(Transfers, DefaultsOfTheBaseAndTheSingleAction) {
    struct Bare : MyAbstructTransfer {
        bool AfterRun() override { return true; }
        void Run() override {}
    } bare;
    EXPECT_EQ(bare.GetName(), " ");
    EXPECT_TRUE(bare.BeforeRun());

    int hits = 0;
    SingleFunctionAction act([](void* d) { ++*static_cast<int*>(d); }, &hits, "действие");
    EXPECT_EQ(act.GetName(), "действие");
    EXPECT_TRUE(act.BeforeRun());
    EXPECT_FALSE(act.AfterRun());
    act.Run();
    EXPECT_EQ(hits, 1);
    EXPECT_THROW(SingleFunctionAction(nullptr, nullptr, "x"), MyExceptionPtr);
}

}  // namespace
