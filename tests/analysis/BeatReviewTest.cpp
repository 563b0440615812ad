#include <gtest/gtest.h>

#include "analysis/BeatReview.h"

namespace {

using C = BeatClass;

TEST(BeatReview, EveryStepUndoesAndRedoes)
{
    CBeatReview review({100, 300, 500}, {C::N, C::N, C::N});
    const auto state = [&] { return std::make_pair(review.Beats(), review.Classes()); };
    const auto start = state();
    EXPECT_FALSE(review.IsModified());

    EXPECT_TRUE(review.Relabel({0, 2}, C::V));
    EXPECT_FALSE(review.Relabel({0, 2}, C::V));  // nothing to change: no step
    size_t at = 0;
    EXPECT_TRUE(review.Insert(400, C::S, &at));
    EXPECT_EQ(at, 2u);
    EXPECT_FALSE(review.Insert(400, C::N));
    EXPECT_TRUE(review.Delete(0));
    EXPECT_FALSE(review.Delete(9));
    EXPECT_EQ(review.Beats(), (std::vector<uint32_t>{300, 400, 500}));
    EXPECT_EQ(review.Classes(), (std::vector<C>{C::N, C::S, C::V}));
    const auto end = state();

    while (review.Undo()) {
    }
    EXPECT_EQ(state(), start);
    EXPECT_FALSE(review.IsModified());
    while (review.Redo()) {
    }
    EXPECT_EQ(state(), end);

    // A step after an undo drops what could have been redone.
    review.Undo();
    review.Relabel({0}, C::F);
    EXPECT_FALSE(review.CanRedo());
}

TEST(BeatReview, ModifiedFollowsTheSavedState)
{
    CBeatReview review({100, 300}, {C::N, C::N});
    review.Relabel({0}, C::V);
    review.MarkSaved();
    EXPECT_FALSE(review.IsModified());
    review.Undo();
    EXPECT_TRUE(review.IsModified());
    review.Redo();
    EXPECT_FALSE(review.IsModified());
    // Undo, then another step: the saved state is gone for good.
    review.Undo();
    review.Relabel({1}, C::S);
    EXPECT_TRUE(review.IsModified());
    review.Undo();
    EXPECT_TRUE(review.IsModified());
}

TEST(BeatReview, NearestBeatAndLocalPeak)
{
    CBeatReview empty;
    EXPECT_EQ(empty.Nearest(5), CBeatReview::npos);
    CBeatReview review({100, 300, 500}, {C::N, C::N, C::N});
    EXPECT_EQ(review.Nearest(0), 0u);
    EXPECT_EQ(review.Nearest(199), 0u);
    EXPECT_EQ(review.Nearest(201), 1u);
    EXPECT_EQ(review.Nearest(9000), 2u);

    // A negative R wave counts as the peak; the search stays within radius
    // and within the window.
    std::vector<int16_t> s(100, 10);
    s[40] = -900;
    s[90] = 2000;
    EXPECT_EQ(FindLocalPeak(s.data(), 100, 1000, 1045, 15), 1040u);
    EXPECT_EQ(FindLocalPeak(s.data(), 100, 1000, 1080, 15), 1090u);
    EXPECT_EQ(FindLocalPeak(s.data(), 100, 1000, 1098, 15), 1090u);
}

}  // namespace
