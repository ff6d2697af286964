#include "host/panel/PanelResponder.h"

namespace kw::panel {

PanelResponder::PanelResponder(std::shared_ptr<PanelModel> model,
                               std::shared_ptr<FaultInjector> faults, Options options)
    : m_model(std::move(model)),
      m_faults(std::move(faults)),
      m_options(options),
      m_reader(CommandReader::Options{options.dialect, options.displayId, options.interByteTimeout})
{
}

std::vector<PanelResponder::Output> PanelResponder::receive(const uint8_t* bytes, size_t count,
                                                            TimePoint now)
{
    m_reader.feed(bytes, count, now);
    std::vector<Output> outputs;
    while (auto command = m_reader.next()) {
        const FaultPlan plan = m_faults ? m_faults->next() : FaultPlan{};
        if (plan.silent) continue;
        const Reply reply =
            plan.nak ? makeNak(command->cmd, NakReason::Injected) : m_model->handle(*command);
        const uint8_t id = m_options.displayId ? *m_options.displayId : command->displayId;
        // The reply command byte sits after FF, ID, L, ack (line) or FF, L, ack (engine).
        const size_t rcmdOffset = m_options.dialect == Dialect::Line ? 4 : 3;
        outputs.push_back(
            {plan.delay, plan.applyTo(encodeReply(m_options.dialect, id, reply), rcmdOffset)});
    }
    return outputs;
}

}  // namespace kw::panel
