// The classic run flow: report mode and modify mode over the block's steps, with the tool's
// message for each outcome.
#include "tool/run.h"

#include <cstring>
#include <vector>

#include "tool/block_detail.h"
#include "tool/messages.h"
#include "tool/report.h"
#include "tool/warnings.h"

namespace vexdram {
using namespace block_detail;

void block_detail::say_unwritten(const run_context& ctx, const block_outcome& o) {
  if (o.what == outcome::unwritten && !o.in) say(ctx, msg::write_bin_fail);  // the version-1 record
  for (step s : write_order) {
    if (!(o.unwritten & (1u << static_cast<unsigned>(s)))) continue;
    say(ctx, s == step::skew ? msg::write_skew_fail : section_info(step_section(s)).write_fail);
  }
}

const char* tool_message(const block_outcome& o) {
  switch (o.what) {
    case outcome::no_block: return msg::get_version_fail;
    case outcome::unsupported_version: return msg::version_not_support;
    case outcome::index_cut: return msg::readout_index_fail;
    case outcome::record_cut: return msg::read_bin_fail;
    case outcome::section_cut: return section_info(step_section(*o.in)).read_fail;
    case outcome::skew_version_cut: return msg::read_skew_version_fail;
    case outcome::skew_cut: return msg::read_tq6951_skew_fail;
    case outcome::ddr5_present: return msg::not_support_ddr5;
    case outcome::done:
    case outcome::unwritten: break;
  }
  return nullptr;
}

void run_report(run_context& ctx, ddr_file& bin, std::FILE* report) {
  ctx.gen_txt_from_bin = true;
  ctx.updata_availd.fill(state_keep);
  block_location at;
  base_info info_from_bin;
  if (const block_outcome o = read_block(ctx, bin, start_tag_value, at, info_from_bin); !o.ok()) {
    say(ctx, tool_message(o));
    return;
  }
  say(ctx, gen_info_from_bin(report, info_from_bin) == 0 ? msg::generate_ok : msg::generate_fail);
}

void run_modify(run_context& ctx, text_source& params, ddr_file& bin) {
  ctx.updata_availd.fill(state_keep);
  base_info info_from_txt;
  if (read_param_text(params, info_from_txt, ctx.updata_availd, ctx.out) == 0) {
    say(ctx, msg::read_param_fail);
    return;
  }
  // Without a start tag the scan would look for whatever the blank value is and write the
  // block over the first match.
  if (ctx.updata_availd[p::start_tag] != state_given) {
    say(ctx, msg::no_start_tag);
    return;
  }
  const block_outcome o = modify_block(ctx, info_from_txt, bin);
  if (const char* ended = tool_message(o)) {
    say(ctx, ended);
    return;
  }
  say_unwritten(ctx, o);  // (a DDR5 entry ends the run at reading)
  // Users flash the image right after: "modify end" means the data is on the disk.
  say(ctx, o.synced ? msg::modify_end : msg::write_bin_fail);
}

}  // namespace vexdram
